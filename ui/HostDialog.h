// The host dialog: edits every configuration field of one host on four pages. The caller
// sets the dialog record, shows the dialog modally and, on OK, reads the record back.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <string>

#include "app/HostEdit.h"
#include "core/Vardo.h"

class DialogServices;
class FileNameEdit;
class ParentsEdit;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class SpinEdit;
class TListDlg;
class WebCheckOptions;
class QLabel;

class TAddHostDlg : public QDialog {
    Q_OBJECT
  public:
    TAddHostDlg(DialogServices& services, TListDlg& listDialog, QWidget* parent = nullptr);

    // The dialog record: read when the dialog shows, written only by an accepted OK.
    ServerItem record;
    // Beside it, the same way: the extended settings, the hosts "Depends on" offers and the
    // test that refuses parents that would close a ring.
    HostEdit beside;

    // Cancel, Escape and the window's close button; while Find waits for a machine's list
    // they end the search instead, and the dialog stays.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildGeneralPage();
    void buildOptionsPage();
    void buildEventsPage();
    void buildNotificationsPage();

    void FormShow();
    // Fill a text control from the record and remember what it showed, so that OK keeps the
    // bytes of every field the user left alone.
    void showText(QLineEdit* edit, const std::string& bytes);
    void showMemo(QPlainTextEdit* memo, const std::string& bytes);
    std::string stored(const QLineEdit* edit, const std::string& bytes) const;
    std::string stored(const QPlainTextEdit* memo, const std::string& bytes) const;
    void cboTypeChange();
    // Shows the TCP controls that apply to the TCP sub-type.
    void cboTcpTypeChange();
    void btnOkClick();
    void btnTestUpSoundClick();
    void btnTestDownSoundClick();
    void btnTestUpCmdClick();
    void btnTestDownCmdClick();
    // Both Find buttons; fromEvents tells which one was pressed.
    void btnFindServiceClick(bool fromEvents);
    void actionHelpExecute();

    DialogServices& services_;
    TListDlg& listDialog_;
    enum class Finding { No, Yes, Cancelled };
    Finding finding_ = Finding::No;

    QTabWidget* pages_;
    ParentsEdit* parents_;
    // General
    QLineEdit* txtName_;
    QLineEdit* txtAddress_;
    QComboBox* cboType_;
    SpinEdit* failures_;
    QPlainTextEdit* txtDescription_;
    // Options
    QGroupBox* tcpGroup_;
    QGroupBox* pingGroup_;
    QGroupBox* serviceGroup_;
    QLineEdit* txtTcpPort_;
    QComboBox* cboTcpType_;
    QPlainTextEdit* txtSendText_;
    QPlainTextEdit* txtRecvText_;
    QLabel* lblTcpPort_;
    QLabel* lblSendText_;
    QLabel* lblRecvText_;
    WebCheckOptions* webOptions_;
    SpinEdit* numPings_;
    SpinEdit* pingSeconds_;
    QLineEdit* txtService_;
    // Events
    QCheckBox* cbxUpSound_;
    FileNameEdit* txtUpSound_;
    QCheckBox* cbxUpCmd_;
    FileNameEdit* txtUpCmd_;
    QCheckBox* cbxDownSound_;
    FileNameEdit* txtDownSound_;
    QCheckBox* cbxDownCmd_;
    FileNameEdit* txtDownCmd_;
    QCheckBox* cbxShutdown_;
    QLineEdit* txtShutdown_;
    QCheckBox* cbxStartService_;
    QLineEdit* txtStartService_;
    // Notifications
    QCheckBox* cbxNotifyServerUp_;
    QCheckBox* cbxNotifyServerDown_;
    QCheckBox* cbxMsgBox_;
    QCheckBox* cbxSendMails_;
    QLineEdit* txtSendMails_;
    QCheckBox* cbxNetSend_;
    QLineEdit* txtNetSend_;
    QPlainTextEdit* txtUpMsg_;
    QPlainTextEdit* txtDownMsg_;

    // What each text control showed when the dialog was filled.
    QHash<const QObject*, QString> shown_;
};
