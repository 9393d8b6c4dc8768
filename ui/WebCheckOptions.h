// The host dialog's web and TLS controls, below the TCP options: the accepted status codes,
// method, redirects and headers of a web check, and the TLS mode, verification, CA file and
// expiry warning of it and of the other TCP checks. They edit the host's extended settings;
// keys they do not know stay as they were.
#pragma once

#include <QWidget>

#include "core/HostExtras.h"

class FileNameEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

class WebCheckOptions : public QWidget {
    Q_OBJECT
  public:
    explicit WebCheckOptions(QWidget* parent = nullptr);

    void showSettings(const HostExtras& extras);
    // The settings as the controls show them, written into extras.
    void storeSettings(HostExtras& extras) const;
    // Shows the controls that apply to the TCP sub-type (its combo box index).
    void setTcpType(int tcpType);

  private:
    void updateVisibility();

    int tcpType_ = 0;
    // What the redirect count was, so a switch left on keeps a count other than the default.
    int redirects_ = 0;
    QWidget* webBox_;
    QWidget* certBox_;
    QComboBox* cboTls_;
    QLabel* tlsLabel_;
    QLineEdit* txtStatus_;
    QCheckBox* cbxMustNotContain_;
    QComboBox* cboMethod_;
    QCheckBox* cbxRedirects_;
    QPlainTextEdit* txtHeaders_;
    QCheckBox* cbxVerify_;
    FileNameEdit* txtCaFile_;
    QSpinBox* spWarnDays_;
};
