#include "storage/ConfigFile.h"

#include <array>
#include <exception>

#include "storage/BinaryIO.h"
#include "storage/SafeFile.h"

std::string encodeConfig(const ServerCfg& cfg) {
    ByteWriter w;
    w.putU32(kConfigMagic);
    w.putI32(kConfigVersion);
    for (const std::string* text : {&cfg.mailServer, &cfg.fromAddress, &cfg.fromName, &cfg.mailSubject,
                                    &cfg.dialPrefix, &cfg.lastDoc, &cfg.logFile}) {
        w.putString(*text);
    }
    for (std::int32_t value : {cfg.interval, cfg.connectTimeout, cfg.openLast, cfg.doLog}) {
        w.putI32(value);
    }
    return w.take();
}

bool decodeConfig(std::string_view bytes, ServerCfg& cfg, std::string& error) {
    ByteReader r(bytes);
    // A file too short for the magic or the version reads them as 0.
    std::uint32_t magic = 0;
    r.getU32(magic);
    if (magic != kConfigMagic) {
        error = kCfgNotAConfig;
        return false;
    }
    std::int32_t version = 0;
    r.getI32(version);
    if (version != kConfigVersion) {
        error = kCfgBadVersion;
        return false;
    }
    ServerCfg next = cfg;
    for (std::string* text : {&next.mailServer, &next.fromAddress, &next.fromName, &next.mailSubject,
                              &next.dialPrefix, &next.lastDoc, &next.logFile}) {
        if (r.atEnd()) {
            cfg = next;
            return true;
        }
        if (r.remaining() < 4 || r.getString(*text) == ByteReader::StringResult::Damaged) {
            error = kCfgDamaged;
            return false;
        }
    }
    for (std::int32_t* value : {&next.interval, &next.connectTimeout, &next.openLast, &next.doLog}) {
        if (r.atEnd()) {
            break;
        }
        if (!r.getI32(*value)) {
            error = kCfgDamaged;
            return false;
        }
    }
    cfg = next;
    return true;
}

bool ServerCfg::load(const std::string& path) {
    fileName = path;
    try {
        std::string bytes;
        if (!readWholeFile(path, bytes)) {
            errorText = "Failed to open config file for reading.";
            return false;
        }
        return decodeConfig(bytes, *this, errorText);
    } catch (const std::exception& e) {
        errorText = std::string("Exception while saving config: ") + e.what();
        return false;
    } catch (...) {
        errorText = "Unknown exception while saving config.";
        return false;
    }
}

bool ServerCfg::save() {
    try {
        if (!makeParentFolders(fileName)) {
            errorText = "Failed to open config file for writing.";
            return false;
        }
        std::string reason;
        switch (writeFileReplacing(fileName, encodeConfig(*this), reason)) {
            case WriteResult::Ok:
                return true;
            case WriteResult::OpenFailed:
                errorText = "Failed to open config file for writing.";
                return false;
            case WriteResult::WriteFailed:
                errorText = "Exception while saving config file: " + reason;
                return false;
        }
    } catch (const std::exception& e) {
        errorText = std::string("Exception while saving config file: ") + e.what();
        return false;
    } catch (...) {
        errorText = "Unknown error while saving config file";
    }
    return false;
}
