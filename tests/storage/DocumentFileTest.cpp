#include <gtest/gtest.h>

#include <filesystem>

#include "storage/BinaryIO.h"
#include "storage/DocumentFile.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace {

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

ServerItem everyFieldSet() {
    ServerItem it;
    it.type = HostService;
    it.name = "mail \xE9t\xE9";  // 8-bit text
    it.address = "10.0.0.7";
    it.description = "line one\r\nline two";
    it.service = "postfix";
    it.goodCount = 7;
    it.badCount = 2;
    it.failuresAllowed = 3;
    it.consecutiveFailures = 2;
    it.status = StatusFailure;
    it.tcpPort = 25;
    it.numPings = 4;
    it.pingSeconds = -3;
    it.tcpType = TcpConnectSendReceive;
    it.recvText = "220";
    it.sendText = "HELP\r\n";
    it.events = {true,      false,       true,     false,      true, true,
                 "/up.wav", "/down.wav", "up cmd", "down cmd", "m1", "svc"};
    it.notify = {true, false, true, false, true, "up %s", "down %s at %t", "a@x,b@y", "pc1,pc2"};
    return it;
}

class DocumentFile : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(DocumentFile, EmptyDocumentIsTheTwelveByteHeader) {
    ServerDoc doc;
    doc.fileName = dir.file("empty.vdm");
    ASSERT_TRUE(doc.save());
    EXPECT_EQ(hex(readFileBytes(doc.fileName)), "0DF0ADBA0400000000000000");
}

TEST_F(DocumentFile, OneDefaultHostIsTheWorkedExample) {
    ServerDoc doc;
    doc.append(ServerItem{});
    doc.fileName = dir.file("one.vdm");
    ASSERT_TRUE(doc.save());
    EXPECT_FALSE(doc.modified);
    const std::string bytes = readFileBytes(doc.fileName);
    ASSERT_EQ(bytes.size(), 156u);
    const auto zeros = [](std::size_t n) { return std::string(n * 2, '0'); };
    const std::string expected =
        "0DF0ADBA0400000001000000" + zeros(4) /* type */ + zeros(12) /* texts */ + zeros(24) +
        "01000000"
        "01000000" /* the eight numbers */
        + zeros(4) /* tcpType */ + zeros(12) + zeros(6) /* flags */ + zeros(24) + "0001000100" +
        zeros(4) /* upMsg */ + "1D000000" + hex("The server %s went down at %t") + zeros(8);
    EXPECT_EQ(hex(bytes), expected);

    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName));
    ASSERT_EQ(back.count(), 1u);
    EXPECT_EQ(*back.at(0), ServerItem{});
    EXPECT_EQ(back.fileName, doc.fileName);
    EXPECT_FALSE(back.modified);
}

TEST_F(DocumentFile, EveryFieldRoundTripsAndTextsAreCutAtNul) {
    ServerDoc doc;
    ServerItem a = everyFieldSet();
    ServerItem b;
    b.name = std::string("ab\0cd", 5);
    b.notify.upMsg = std::string("\0hidden", 7);
    b.type = HostPing;
    doc.append(a);
    doc.append(b);
    doc.fileName = dir.file("all.vdm");
    ASSERT_TRUE(doc.save());
    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName));
    ASSERT_EQ(back.count(), 2u);
    EXPECT_EQ(*back.at(0), a);
    ServerItem bCut = b;
    bCut.name = "ab";
    bCut.notify.upMsg = "";
    EXPECT_EQ(*back.at(1), bCut);
}

TEST_F(DocumentFile, EmptyDownMessageLoadsAsTheDefault) {
    ServerItem it;
    it.notify.downMsg = "";
    it.notify.upMsg = "";
    ServerDoc doc;
    doc.append(it);
    doc.fileName = dir.file("msg.vdm");
    ASSERT_TRUE(doc.save());
    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName));
    EXPECT_EQ(back.at(0)->notify.downMsg, "The server %s went down at %t");
    EXPECT_EQ(back.at(0)->notify.upMsg, "");
}

TEST_F(DocumentFile, ANameWithoutADotGetsTheExtension) {
    std::filesystem::create_directory(dir.file("hosts"));
    std::filesystem::create_directory(dir.file("my.dir"));
    ServerDoc doc;
    doc.fileName = dir.file("hosts/list");
    ASSERT_TRUE(doc.save());
    EXPECT_EQ(doc.fileName, dir.file("hosts/list.vdm"));
    EXPECT_TRUE(std::filesystem::exists(doc.fileName));
    // The temporary folder's own name may hold a dot; test the rule on a relative path too.
    doc.fileName = dir.file("my.dir/list");
    ASSERT_TRUE(doc.save());
    EXPECT_EQ(doc.fileName, dir.file("my.dir/list"));
}

TEST_F(DocumentFile, OpenFailuresAndForeignFiles) {
    ServerDoc doc;
    doc.fileName = dir.file("no/such/folder/x.vdm");
    EXPECT_FALSE(doc.save());
    EXPECT_EQ(doc.errorText, "Failed to open file for writing.");
    EXPECT_EQ(doc.errorReason, "No such file or directory");

    EXPECT_FALSE(doc.load(dir.file("missing.vdm")));
    EXPECT_EQ(doc.errorText, "Failed to open file for reading.");

    const std::pair<std::string, std::string> cases[] = {
        {std::string("\x0D\xF0\xAD\xBB\x04\0\0\0\0\0\0\0", 12),
         "This file does not appear to be a Vardomon document."},
        {"", "This file does not appear to be a Vardomon document."},
        {std::string("\x0D\xF0\xAD\xBA\x03\0\0\0\0\0\0\0", 12), "Incompatible Vardomon document version."},
        {std::string("\x0D\xF0\xAD\xBA\x05\0\0\0\0\0\0\0", 12), "Incompatible Vardomon document version."},
    };
    for (const auto& [bytes, text] : cases) {
        writeFileBytes(dir.file("bad.vdm"), bytes);
        ServerDoc d;
        EXPECT_FALSE(d.load(dir.file("bad.vdm")));
        EXPECT_EQ(d.errorText, text);
        EXPECT_EQ(d.fileName, "");
    }
}

TEST_F(DocumentFile, ZeroOrNegativeCountLoadsAnEmptyList) {
    for (const char* count : {"\0\0\0\0", "\xFF\xFF\xFF\xFF"}) {
        writeFileBytes(dir.file("z.vdm"),
                       std::string("\x0D\xF0\xAD\xBA\x04\0\0\0", 8) + std::string(count, 4));
        ServerDoc d;
        d.modified = true;
        ASSERT_TRUE(d.load(dir.file("z.vdm")));
        EXPECT_EQ(d.count(), 0u);
        EXPECT_FALSE(d.modified);
    }
}

TEST_F(DocumentFile, DamagedFilesLoadNothingAndKeepNoName) {
    ServerDoc good;
    good.append(everyFieldSet());
    good.append(everyFieldSet());
    good.fileName = dir.file("good.vdm");
    ASSERT_TRUE(good.save());
    const std::string bytes = readFileBytes(good.fileName);

    std::vector<std::string> damaged;
    for (std::size_t cut :
         {11u, 20u, 100u, static_cast<unsigned>(bytes.size() / 2), static_cast<unsigned>(bytes.size() - 1)}) {
        damaged.push_back(bytes.substr(0, cut));
    }
    std::string bigCount = bytes;
    bigCount[8] = '\x7F';  // a count far beyond the records present
    damaged.push_back(bigCount);
    std::string negativeString = bytes;
    negativeString.replace(16, 4, std::string("\xF0\xFF\xFF\xFF", 4));  // name length -16
    damaged.push_back(negativeString);
    std::string longString = bytes;
    longString.replace(16, 4, std::string("\x00\x00\x00\x70", 4));  // name longer than the file
    damaged.push_back(longString);

    for (const std::string& d : damaged) {
        writeFileBytes(dir.file("d.vdm"), d);
        ServerDoc doc;
        EXPECT_FALSE(doc.load(dir.file("d.vdm"))) << d.size();
        EXPECT_EQ(doc.count(), 0u);
        EXPECT_EQ(doc.fileName, "");
        EXPECT_FALSE(doc.errorText.empty());
    }
}

TEST_F(DocumentFile, ExtendedSettingsRideInATrailerOnlyWhileAHostHasAny) {
    ServerDoc doc;
    ServerItem web = everyFieldSet();
    web.tcpType = TcpHttpRequest;
    web.address = "https://[::1]:8443/health";
    doc.append(
        web, {{"http.status", "200-299,301"}, {"http.headers", "A: 1\nB: 2"}, {"zz.later", "kept \xC3\xA9"}});
    doc.append(ServerItem{});
    doc.fileName = dir.file("x.vdm");
    ASSERT_TRUE(doc.save());
    const std::string records = encodeDocument(doc.items());
    const std::string bytes = readFileBytes(doc.fileName);
    EXPECT_EQ(bytes.substr(0, records.size() + 4), records + "VDMX");

    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName)) << back.errorText;
    EXPECT_EQ(back.items(), doc.items());
    EXPECT_EQ(back.extrasAt(0), doc.extrasAt(0));
    EXPECT_EQ(back.extrasAt(1), HostExtras{});
    EXPECT_FALSE(back.extrasDamaged());

    // Removing the host that had settings leaves the old format, byte for byte.
    ASSERT_TRUE(back.remove(0));
    ASSERT_TRUE(back.save());
    EXPECT_EQ(readFileBytes(back.fileName), encodeDocument(back.items()));
}

TEST_F(DocumentFile, ADamagedTrailerLoadsTheHostsAndIsNotSavedOverUnasked) {
    ServerDoc doc;
    doc.append(everyFieldSet(), {{"parents", "router"}});
    doc.append(everyFieldSet());
    doc.fileName = dir.file("t.vdm");
    ASSERT_TRUE(doc.save());
    const std::string good = readFileBytes(doc.fileName);
    const std::size_t trailer = encodeDocument(doc.items()).size();

    // Bytes after the records that are no trailer are ignored, as they always were.
    writeFileBytes(doc.fileName, good.substr(0, trailer) + "junk after the records");
    ServerDoc junk;
    ASSERT_TRUE(junk.load(doc.fileName));
    EXPECT_FALSE(junk.extrasDamaged());

    std::string flipped = good;
    flipped[trailer + 20] ^= 1;  // inside the first key; only the CRC notices
    for (const std::string& damaged : {flipped, good.substr(0, good.size() - 1),
                                       good.substr(0, trailer + 9)}) {
        writeFileBytes(doc.fileName, damaged);
        ServerDoc d;
        ASSERT_TRUE(d.load(doc.fileName)) << d.errorText;
        EXPECT_EQ(d.count(), 2u);
        EXPECT_TRUE(d.extrasDamaged());
        EXPECT_EQ(d.extrasAt(0), HostExtras{});
        d.modified = true;
        EXPECT_FALSE(d.save());
        EXPECT_EQ(readFileBytes(doc.fileName), damaged);
        d.acceptExtrasLoss();
        ASSERT_TRUE(d.save());
        EXPECT_EQ(readFileBytes(doc.fileName), encodeDocument(d.items()));
    }
}

TEST_F(DocumentFile, TypeFieldsKeepTheirLowByte) {
    ServerDoc doc;
    doc.append(ServerItem{});
    doc.fileName = dir.file("t.vdm");
    ASSERT_TRUE(doc.save());
    std::string bytes = readFileBytes(doc.fileName);
    bytes.replace(12, 4, std::string("\x02\x01\x00\x00", 4));       // type 0x102 keeps 2
    bytes.replace(12 + 48, 4, std::string("\xFF\xFF\xFF\xFF", 4));  // tcpType -1
    writeFileBytes(doc.fileName, bytes);
    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName));
    EXPECT_EQ(back.at(0)->type, HostService);
    EXPECT_EQ(back.at(0)->tcpType, -1);
}

// A write that fails (here: past the file size limit) reports the system's reason and
// leaves the previous file as it was.
TEST_F(DocumentFile, AFailedWriteKeepsThePreviousFile) {
    ServerDoc doc;
    doc.append(ServerItem{});
    doc.fileName = dir.file("keep.vdm");
    ASSERT_TRUE(doc.save());
    const std::string before = readFileBytes(doc.fileName);

    for (int i = 0; i < 200; ++i) {
        doc.append(everyFieldSet());
    }
    doc.modified = true;
    bool saved = true;
    {
        const FileSizeLimit limit(4096);
        saved = doc.save();
    }

    EXPECT_FALSE(saved);
    EXPECT_EQ(doc.errorText, "Exception while saving: File too large");
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(readFileBytes(doc.fileName), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 1u) << "the temporary file was left behind";
}

TEST_F(DocumentFile, AFileWrittenByOthersWhileTheSaveWritesIsKept) {
    ServerDoc doc;
    doc.append(ServerItem{});
    doc.fileName = dir.file("shared.vdm");
    const bool saved = doc.save([&] {
        writeFileBytes(doc.fileName, "theirs");
        return false;
    });
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFileBytes(doc.fileName), "theirs");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(DocumentFile, SaveKeepsTheModeOfTheFileItReplaces) {
    ServerDoc doc;
    doc.fileName = dir.file("mode.vdm");
    ASSERT_TRUE(doc.save());
    std::filesystem::permissions(doc.fileName, std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::owner_write |
                                                   std::filesystem::perms::group_read);
    ASSERT_TRUE(doc.save());
    EXPECT_EQ(std::filesystem::status(doc.fileName).permissions(), std::filesystem::perms::owner_read |
                                                                       std::filesystem::perms::owner_write |
                                                                       std::filesystem::perms::group_read);
}

TEST_F(DocumentFile, AReadOnlyFileIsRefusedAndALinkIsSavedThrough) {
    using std::filesystem::perms;
    ServerDoc doc;
    doc.fileName = dir.file("locked.vdm");
    ASSERT_TRUE(doc.save());
    const std::string before = readFileBytes(doc.fileName);
    std::filesystem::permissions(doc.fileName, perms::owner_read | perms::group_read | perms::others_read);
    doc.append(ServerItem{});
    EXPECT_FALSE(doc.save());
    EXPECT_EQ(doc.errorText, "Failed to open file for writing.");
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(readFileBytes(doc.fileName), before);

    std::filesystem::create_directories(dir.file("files"));
    std::filesystem::create_symlink("files/real.vdm", dir.file("link.vdm"));
    ServerDoc linked;
    linked.fileName = dir.file("link.vdm");
    linked.append(ServerItem{});
    ASSERT_TRUE(linked.save()) << linked.errorText;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.vdm")));
    EXPECT_EQ(readFileBytes(dir.file("files/real.vdm")).size(), 156u);
    linked.append(ServerItem{});
    ASSERT_TRUE(linked.save()) << linked.errorText;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.vdm")));
    EXPECT_EQ(readFileBytes(dir.file("link.vdm")).size(), 300u);
}

// Files larger than the reader's buffer: records and texts that straddle its refills.
TEST_F(DocumentFile, LargeListsAndTextsCrossTheReadBuffer) {
    ServerDoc doc;
    std::vector<ServerItem> hosts;
    for (int i = 0; i < 3000; ++i) {
        ServerItem it = everyFieldSet();
        it.name = "host " + std::to_string(i);
        it.description =
            std::string(static_cast<std::size_t>(300 + i % 700), static_cast<char>('a' + i % 26));
        hosts.push_back(it);
    }
    ServerItem huge;
    huge.description = std::string(3 << 20, 'x');
    huge.description[(5 << 19)] = '\0';  // a NUL 2.5 MiB in
    huge.notify.upMsg = std::string((1 << 20) + 7, 'u');
    hosts.push_back(huge);
    for (const ServerItem& it : hosts) {
        doc.append(it);
    }
    doc.fileName = dir.file("large.vdm");
    ASSERT_TRUE(doc.save());
    ServerDoc back;
    ASSERT_TRUE(back.load(doc.fileName));
    ASSERT_EQ(back.count(), hosts.size());
    hosts.back().description.resize(5 << 19);
    EXPECT_EQ(back.items(), hosts);

    // Cut inside the huge text: damaged, nothing loaded.
    const std::string bytes = readFileBytes(doc.fileName);
    writeFileBytes(dir.file("cut.vdm"), bytes.substr(0, bytes.size() - (1 << 20) - 200));
    ServerDoc cut;
    EXPECT_FALSE(cut.load(dir.file("cut.vdm")));
    EXPECT_EQ(cut.count(), 0u);
}

TEST(BinaryIO, ReaderStopsAtTheEnd) {
    ByteReader r(std::string_view("\x05\0\0\0abc", 7));
    std::string s = "keep";
    EXPECT_EQ(r.getString(s), ByteReader::StringResult::Damaged);
    EXPECT_EQ(s, "keep");
    std::int32_t v = 0;
    EXPECT_TRUE(r.getI32(v));
    EXPECT_EQ(v, 5);
    std::uint32_t u = 9;
    EXPECT_FALSE(r.getU32(u));
    EXPECT_EQ(u, 9u);
    EXPECT_EQ(r.remaining(), 3u);
}

}  // namespace
