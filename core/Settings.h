// The settings that vardo.cfg has no field for: they live in settings.toml beside it. Every
// default is the behaviour without them, so a missing file or key changes nothing.
#pragma once

#include <cstdint>
#include <string>

// How the alert mail reaches its server.
enum class MailSecurity {
    None,      // the plain dialogue, no AUTH ever
    StartTls,  // plain greeting, then TLS after EHLO and STARTTLS
    Tls,       // TLS from the first byte
};

struct MailSettings {
    std::int32_t port = 25;
    MailSecurity security = MailSecurity::None;
    std::string user;
    // Either the password itself or a command whose standard output is the password.
    std::string password;
    std::string passwordCommand;
    bool verifyCertificate = true;
    // An extra trusted certificate authority (PEM); the system store is always trusted.
    std::string caFile;

    bool operator==(const MailSettings&) const = default;
};

// How the program lives on the desktop.
struct DesktopSettings {
    // A transition's message box also raises a desktop notification.
    bool notifications = true;
    // The tray icon, when the desktop has a tray.
    bool tray = true;
    // Closing the window hides it in the tray instead of ending the program.
    bool closeToTray = false;

    bool operator==(const DesktopSettings&) const = default;
};

struct Settings {
    MailSettings mail;
    DesktopSettings desktop;

    bool operator==(const Settings&) const = default;
};
