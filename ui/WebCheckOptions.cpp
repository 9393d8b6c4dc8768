#include "ui/WebCheckOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/CheckSettings.h"
#include "core/Vardo.h"
#include "ui/FileNameEdit.h"

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

}  // namespace

WebCheckOptions::WebCheckOptions(QWidget* parent) : QWidget(parent) {
    cboTls_ = named(new QComboBox(this), "cboTls");
    cboTls_->addItems({QStringLiteral("None"), QStringLiteral("TLS"), QStringLiteral("STARTTLS (SMTP)"),
                       QStringLiteral("STARTTLS (IMAP)"), QStringLiteral("STARTTLS (POP3)")});
    tlsLabel_ = new QLabel(QStringLiteral("TLS:"), this);

    webBox_ = new QWidget(this);
    txtStatus_ = named(new QLineEdit(webBox_), "txtHttpStatus");
    txtStatus_->setPlaceholderText(QStringLiteral("200-399"));
    cbxMustNotContain_ = named(new QCheckBox(QStringLiteral("Response must not contain the text"), webBox_),
                               "cbxMustNotContain");
    cboMethod_ = named(new QComboBox(webBox_), "cboHttpMethod");
    cboMethod_->addItems({QStringLiteral("GET"), QStringLiteral("HEAD")});
    cbxRedirects_ =
        named(new QCheckBox(QStringLiteral("Follow redirects (at most 5)"), webBox_), "cbxRedirects");
    txtHeaders_ = named(new QPlainTextEdit(webBox_), "txtHttpHeaders");
    txtHeaders_->setTabChangesFocus(true);
    txtHeaders_->setPlaceholderText(QStringLiteral("Name: value, one a line"));
    txtHeaders_->setMaximumHeight(txtHeaders_->fontMetrics().lineSpacing() * 3 + 12);
    auto* web = new QFormLayout(webBox_);
    web->setContentsMargins(0, 0, 0, 0);
    web->addRow(QStringLiteral("Accepted status codes:"), txtStatus_);
    web->addRow(cbxMustNotContain_);
    web->addRow(QStringLiteral("Method:"), cboMethod_);
    web->addRow(cbxRedirects_);
    web->addRow(QStringLiteral("Request headers:"), txtHeaders_);

    certBox_ = new QWidget(this);
    cbxVerify_ =
        named(new QCheckBox(QStringLiteral("Verify the certificate"), certBox_), "cbxVerifyCertificate");
    txtCaFile_ = new FileNameEdit(QStringLiteral("txtCaFile"),
                                  QStringLiteral("Certificates (*.pem *.crt);;All files (*)"), certBox_);
    spWarnDays_ = named(new QSpinBox(certBox_), "spWarnDays");
    spWarnDays_->setRange(0, 3650);
    spWarnDays_->setSpecialValueText(QStringLiteral("Off"));
    auto* cert = new QFormLayout(certBox_);
    cert->setContentsMargins(0, 0, 0, 0);
    cert->addRow(cbxVerify_);
    cert->addRow(QStringLiteral("CA file:"), txtCaFile_);
    cert->addRow(QStringLiteral("Warn days before expiry:"), spWarnDays_);

    auto* box = new QFormLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addRow(tlsLabel_, cboTls_);
    box->addRow(webBox_);
    box->addRow(certBox_);
    connect(cboTls_, &QComboBox::currentIndexChanged, this, [this] { updateVisibility(); });
}

void WebCheckOptions::showSettings(const HostExtras& extras) {
    const TlsSettings tls = tlsSettingsOf(extras);
    const HttpSettings http = httpSettingsOf(extras);
    cboTls_->setCurrentIndex(static_cast<int>(tls.mode));
    cbxVerify_->setChecked(tls.verify);
    txtCaFile_->setText(fromUtf8(tls.caFile));
    spWarnDays_->setValue(tls.warnDays);
    txtStatus_->setText(fromUtf8(http.status));
    cbxMustNotContain_->setChecked(http.mustNotContain);
    cboMethod_->setCurrentIndex(http.method == "HEAD" ? 1 : 0);
    redirects_ = http.redirects;
    cbxRedirects_->setChecked(http.redirects > 0);
    txtHeaders_->setPlainText(fromUtf8(http.headers));
    updateVisibility();
}

void WebCheckOptions::storeSettings(HostExtras& extras) const {
    TlsSettings tls;
    // A web check takes TLS from its URL; the mode belongs to the other TCP checks.
    tls.mode = tcpType_ == TcpHttpRequest ? TlsMode::None : static_cast<TlsMode>(cboTls_->currentIndex());
    tls.verify = cbxVerify_->isChecked();
    tls.caFile = toUtf8(txtCaFile_->text());
    tls.warnDays = spWarnDays_->value();
    HttpSettings http;
    const QString status = txtStatus_->text().trimmed();
    if (!status.isEmpty()) {
        http.status = toUtf8(status);
    }
    http.mustNotContain = cbxMustNotContain_->isChecked();
    http.method = toUtf8(cboMethod_->currentText());
    http.redirects = !cbxRedirects_->isChecked() ? 0 : redirects_ > 0 ? redirects_ : kMostRedirects;
    http.headers = toUtf8(txtHeaders_->toPlainText());
    storeTlsSettings(extras, tls);
    storeHttpSettings(extras, http);
}

void WebCheckOptions::setTcpType(int tcpType) {
    tcpType_ = tcpType;
    updateVisibility();
}

void WebCheckOptions::updateVisibility() {
    const bool web = tcpType_ == TcpHttpRequest;
    webBox_->setVisible(web);
    tlsLabel_->setVisible(!web);
    cboTls_->setVisible(!web);
    certBox_->setVisible(web || cboTls_->currentIndex() > 0);
}
