// The main window: the document commands, Start/Stop and Check Now, the host commands, the
// options, two views of the hosts (results and configuration), help and the about box.
// It owns the application state (app/Application.h) for the whole run.
#pragma once

#include <QMainWindow>
#include <memory>

#include "app/Application.h"
#include "ui/RowModels.h"

class DesktopNotifier;
class DialogServices;
class GridView;
class HistoryCommand;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QtMessageSink;
class QtMonitorView;
class SpinEdit;
class TAboutBox;
class TAddHostDlg;
class TListDlg;
class QuietRowsModel;
class TrayIcon;
class ChannelsBox;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // configPath: where the settings are loaded from and saved to. makeComponents: the
    // probes and alerts the monitor runs on. services: what the host dialog's Test and Find
    // buttons use; it must outlive the window.
    TForm1(const std::string& configPath, const ComponentFactory& makeComponents, DialogServices& services,
           QWidget* parent = nullptr);
    ~TForm1() override;

    Application& app() { return *app_; }
    QtMonitorView& monitorView() { return *view_; }
    TAddHostDlg& hostDialog() { return *hostDlg_; }
    TListDlg& listDialog() { return *listDlg_; }
    ResultGridModel& resultModel() { return *resultModel_; }
    HostGridModel& hostModel() { return *hostModel_; }
    TrayIcon& tray() { return *tray_; }
    HistoryCommand& history() { return *history_; }
    QString statusText() const;

    // A document to open once the first show is done (the program's argument).
    void setStartupDocument(const std::string& path) { startupDocument_ = path; }
    // Whether the first-show steps have run.
    bool firstShowDone() const { return firstShowDone_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    class Prompts;

    void buildActions();
    void buildMenus();
    void buildToolbar();
    void buildPages();
    QWidget* buildOptions(QWidget* parent);
    void connectOptions();
    // The mute menus (host menu, the result grid's context menu, the tray) and the marks.
    void buildQuiet();

    void FormShow();
    void fillOptions(const ServerCfg& cfg);
    void fillMailOptions(const MailSettings& mail);
    void showStartStop(bool running);
    void updateTray();
    void showFromTray();
    GridView* sourceGrid() const;
    static std::optional<std::size_t> selectedRow(const GridView* grid);

    // Commands.
    void mnuStartClick();
    void mnuCheckNowClick();
    void btnAddClick();
    void btnEditClick();
    void btnRemoveClick();
    void EditServer1Click();
    void RemoveServer1Click();
    void mnuExitClick();
    void mnuHelpPageClick();
    void mnuAboutClick();
    void btnTestMailClick();

    // Created first and destroyed last: the monitor thread reports through these.
    ResultGridModel* resultModel_;
    HostGridModel* hostModel_;
    QtMonitorView* view_;
    QtMessageSink* messages_;
    DesktopNotifier* notifier_;
    std::unique_ptr<Prompts> prompts_;

    TListDlg* listDlg_ = nullptr;
    TAddHostDlg* hostDlg_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
    TrayIcon* tray_ = nullptr;
    ChannelsBox* channels_ = nullptr;
    QuietRowsModel* quietRows_ = nullptr;
    HistoryCommand* history_ = nullptr;

    QAction* mnuNew_ = nullptr;
    QAction* mnuOpen_ = nullptr;
    QAction* mnuSave_ = nullptr;
    QAction* mnuSaveAs_ = nullptr;
    QAction* mnuExit_ = nullptr;
    QAction* mnuStart_ = nullptr;
    QAction* mnuCheckNow_ = nullptr;
    QAction* mnuAddServer_ = nullptr;
    QAction* mnuRemoveServer_ = nullptr;
    QAction* mnuEditServer_ = nullptr;
    QAction* mnuViewMonitor_ = nullptr;
    QAction* mnuViewConfig_ = nullptr;
    QAction* mnuAbout_ = nullptr;
    QAction* mnuHelpPage_ = nullptr;

    QToolButton* tbStartStop_ = nullptr;
    QTabWidget* pcMain_ = nullptr;
    QWidget* tsResults_ = nullptr;
    QWidget* tsConfig_ = nullptr;
    GridView* resultlist_ = nullptr;
    GridView* hostlist_ = nullptr;
    QLabel* status_ = nullptr;

    QLineEdit* txtMailServer_ = nullptr;
    QLineEdit* txtFromAddress_ = nullptr;
    QLineEdit* txtFromName_ = nullptr;
    QLineEdit* txtMailSubject_ = nullptr;
    SpinEdit* interval_ = nullptr;
    SpinEdit* checksAtOnce_ = nullptr;
    QLineEdit* txtTimeout_ = nullptr;
    QCheckBox* cbxOpenLast_ = nullptr;
    QCheckBox* cbxDoLog_ = nullptr;
    QLineEdit* txtLogFile_ = nullptr;
    QLineEdit* txtDialPrefix_ = nullptr;
    QCheckBox* cbxNotifications_ = nullptr;
    QSpinBox* spMailPort_ = nullptr;
    QComboBox* cboMailSecurity_ = nullptr;
    QLineEdit* txtMailUser_ = nullptr;
    QLineEdit* txtMailPassword_ = nullptr;
    QLineEdit* txtTestMailTo_ = nullptr;
    QPushButton* btnTestMail_ = nullptr;

    std::string startupDocument_;
    bool firstShowDone_ = false;
    bool firstShowQueued_ = false;
    bool closed_ = false;
    // Exit, rather than the window's close button: the program ends even with a tray.
    bool exiting_ = false;

    // Last: destroyed first, so no monitor thread outlives what it reports to.
    std::unique_ptr<Application> app_;
};
