// What the application's commands ask of the person in front of the window: questions,
// messages, file names and the host record. The window answers with real dialogs; tests
// answer with scripted ones, so the commands run without any toolkit.
#pragma once

#include <optional>
#include <string>

#include "app/HostEdit.h"
#include "core/Vardo.h"

class UserQuestions {
  public:
    virtual ~UserQuestions() = default;
    // A question with Yes and No; true for Yes.
    virtual bool askYesNo(const std::string& text) = 0;
    // A message with a single OK button.
    virtual void showMessage(const std::string& text) = 0;
};

class FileChooser {
  public:
    virtual ~FileChooser() = default;
    // The chosen path, or nothing when the dialog was cancelled.
    virtual std::optional<std::string> chooseOpenPath() = 0;
    virtual std::optional<std::string> chooseSavePath() = 0;
};

class HostEditor {
  public:
    virtual ~HostEditor() = default;
    // Shows the host dialog on record; true (and record changed) when it was confirmed.
    virtual bool editHost(ServerItem& record) = 0;
    // The same with what the dialog edits beside the record; a dialog that has none of it
    // edits the record alone.
    virtual bool editHostWith(ServerItem& record, HostEdit& beside) {
        (void)beside;
        return editHost(record);
    }
};
