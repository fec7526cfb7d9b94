#include "installer/window/main_window.h"

#include "installer/procedure/apply_texts.h"
#include "installer/procedure/log_masking.h"
#include "installer/procedure/package_names.h"
#include "installer/procedure/remembered_settings.h"
#include "installer/procedure/text.h"
#include "installer/window/certificate_dialog.h"
#include "installer/window/message_boxes.h"
#include "installer/window/name_fmt_dialog.h"
#include "installer/window/readme_dialog.h"
#include "installer/window/upload_progress_bar.h"
#include "installer/window/window_support.h"
#include "platform/paths.h"
#include "platform/private_file.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace installer {
namespace {

std::unique_ptr<QLabel> MakeLabel(QWidget* parent, const char* caption, int left, int top,
                                  int width, int height) {
    auto label = std::make_unique<QLabel>(QString::fromLatin1(caption), parent);
    label->setGeometry(left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The captions were laid out for MS Sans Serif 8 pt; a wider substitute must not cut
// them. The field labels keep their right edge next to the edits, like right-justified
// auto-sized labels.
void FitCaption(QLabel& label, bool keepRightEdge) {
    const int needed = label.sizeHint().width();
    if (needed <= label.width())
        return;
    QRect area = label.geometry();
    if (keepRightEdge)
        area.setLeft(area.right() + 1 - needed);
    else
        area.setWidth(needed);
    label.setGeometry(area);
}

std::unique_ptr<QLineEdit> MakeEdit(QWidget* parent, int top) {
    auto edit = std::make_unique<QLineEdit>(parent);
    edit->setGeometry(152, top, 121, 21);
    return edit;
}

// Where the upload progress goes: beside the "Status" label, above the status log.
constexpr int kProgressLeft = 48;
constexpr int kProgressGap = 6;
constexpr int kProgressTop = 209;
constexpr int kProgressHeight = 17;

std::unique_ptr<QPushButton> MakeButton(QWidget* parent, const char* caption, int left) {
    auto button = std::make_unique<QPushButton>(QString::fromLatin1(caption), parent);
    button->setGeometry(left, 386, 75, 25);
    return button;
}

// Line breaks inside a message become lines of the log; NUL bytes cannot be shown.
QString LogText(const std::string& message) {
    std::string clean;
    clean.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\0')
            continue;
        if (c == '\r') {
            clean += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
            continue;
        }
        clean += c;
    }
    return ToQString(clean);
}

} // namespace

TApplyUpdateForm::TApplyUpdateForm(std::string executablePath)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      executablePath_(std::move(executablePath)) {
    setFont(WindowFont());
    setFixedSize(328, 416);
    CreateControls();
    FormCreate();
    Ftp = std::make_unique<TFtpClient>();
    procedure_ = std::make_unique<ApplyProcedure>(*Ftp, values_);
    Ftp->OnConnectionFailed = [this](TObject*) { FtpConnectionFailed(); };
    applyProcedure_ = [this] { Apply(); };
}

void TApplyUpdateForm::Apply() {
    // The window is enabled again while the connection closes; a second run must not start
    // inside the first one's wait. Nor can a run start once the window has closed.
    if (procedure_->Running() || !values_.descriptor)
        return;
    const ApplyRequest request = Request();
    if (const std::string refusal = procedure_->Refusal(request); !refusal.empty()) {
        ShowMessage(refusal);
        return;
    }
    // The readme, once per window, before the first run.
    if (!readmeAcknowledged_ && FileExists(ExecutableDirectory() + kReadmeName) &&
        ShowReadmeModal() != mrOk)
        return;
    const ApplyResult result = procedure_->Run(request, *this);
    // Remember the address and user for the next time the window opens, and the choices.
    RememberSettings(FieldText(ApplyField::SystemEdt), FieldText(ApplyField::UserIdEdt));
    RememberConnectionChoice(SecurityWord(request.connection.security),
                             DataConnectionWord(request.connection.dataConnection));
    if (result.errorsOccurred)
        ErrorDialog(kErrorsOccurred);
    if (result.error)
        std::rethrow_exception(result.error);
}

ApplyRequest TApplyUpdateForm::Request() const {
    ApplyRequest request;
    const std::pair<ApplyField, std::string*> texts[] = {
        {ApplyField::SystemEdt, &request.ipAddress},
        {ApplyField::UserIdEdt, &request.userId},
        {ApplyField::PassEdt, &request.password},
        {ApplyField::TargetLibEdt, &request.targetLibrary}};
    for (const auto& [field, text] : texts)
        *text = FieldEdit(field)->text().toStdString(); // UTF-8
    request.nameFormat = NameFormatIndex();
    request.replace = ReplaceChecked();
    request.connection = ConnectionChoice();
    request.packageDirectory = ExecutableDirectory();
    request.machineSettings = true;
    return request;
}

// The controls a busy run disables, in that order; Close stays usable as Stop: a host that
// never answers must not hold the operator hostage.
void TApplyUpdateForm::BusyChanged(bool busy) {
    constexpr ApplyControl kBusyControls[] = {
        ApplyControl::SystemEdt,    ApplyControl::UserIdEdt,  ApplyControl::PassEdt,
        ApplyControl::TargetLibEdt, ApplyControl::Replaceopt, ApplyControl::ApplyBtn,
        ApplyControl::CancelBtn,
    };
    if (busy) {
        SetBusyCursor();
        SetWindowEnabled(false);
        for (const ApplyControl control : kBusyControls)
            SetControlEnabled(control, false);
        SetControlEnabled(ApplyControl::CancelBtn, true);
    } else {
        SetNormalCursor();
        SetWindowEnabled(true);
        for (const ApplyControl control : kBusyControls)
            SetControlEnabled(control, true);
    }
    CancelBtn->setText(busy ? QStringLiteral("Stop") : QStringLiteral("Close"));
}

TApplyUpdateForm::~TApplyUpdateForm() = default;

void TApplyUpdateForm::CreateControls() {
    UpdName = MakeLabel(this, "", 5, 5, 317, 76);
    QFont bold = WindowFont();
    bold.setBold(true);
    bold.setPixelSize(12);
    UpdName->setFont(bold);
    UpdName->setWordWrap(true);
    UpdName->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = MakeLabel(this, kIpAddressCaption, 38, 90, 91, 13);
    Label2 = MakeLabel(this, kUserIdCaption, 93, 116, 36, 13);
    Label3 = MakeLabel(this, kPasswordCaption, 83, 139, 46, 13);
    Label7 = MakeLabel(this, kTargetLibraryCaption, 68, 163, 61, 13);
    Label4 = MakeLabel(this, "Status", 9, 212, 30, 13);
    for (QLabel* label : {Label1.get(), Label2.get(), Label3.get(), Label7.get()}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        FitCaption(*label, true);
    }
    FitCaption(*Label4, false);

    SystemEdt = MakeEdit(this, 86);
    UserIdEdt = MakeEdit(this, 110);
    PassEdt = MakeEdit(this, 134);
    PassEdt->setEchoMode(QLineEdit::Password);
    PassEdt->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    TargetLibEdt = MakeEdit(this, 158);
    // Each edit is named by its caption, for keyboard users and screen readers alike.
    const std::pair<QLabel*, QLineEdit*> captioned[] = {{Label1.get(), SystemEdt.get()},
                                                        {Label2.get(), UserIdEdt.get()},
                                                        {Label3.get(), PassEdt.get()},
                                                        {Label7.get(), TargetLibEdt.get()}};
    for (const auto& [label, edit] : captioned) {
        label->setBuddy(edit);
        edit->setAccessibleName(label->text());
    }

    Replaceopt = std::make_unique<QCheckBox>(QStringLiteral("Replace Existing Update "), this);
    Replaceopt->setGeometry(11, 184, 153, 17);
    Replaceopt->setLayoutDirection(Qt::RightToLeft); // caption left of the box
    FitCaptionFont(*Replaceopt);

    ApplyBtn = MakeButton(this, "Apply", 5);
    ApplyBtn->setDefault(true); // Enter in any edit presses Apply
    CancelBtn = MakeButton(this, "Close", 247);

    StatusMemo = std::make_unique<QPlainTextEdit>(this);
    StatusMemo->setGeometry(5, 228, 317, 150);
    StatusMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    StatusMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StatusMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StatusMemo->setTabChangesFocus(true);
    Label4->setBuddy(StatusMemo.get());
    StatusMemo->setAccessibleName(Label4->text());
    StatusMemo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StatusMemo.get(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        Guarded([this, at] { CreateLogMenu()->exec(StatusMemo->mapToGlobal(at)); });
    });

    Button1 = MakeButton(this, "Advanced>>>", 166);
    ReadmeBtn = MakeButton(this, "Readme", 85);
    ReadmeBtn->setEnabled(false); // until the show handler finds the readme
    for (QPushButton* button : {ApplyBtn.get(), CancelBtn.get(), Button1.get(), ReadmeBtn.get()})
        FitCaptionFont(*button);

    // In the free space beside "Status", hidden until a run sends its first save file.
    const int barLeft = std::max(kProgressLeft, Label4->geometry().right() + 1 + kProgressGap);
    UploadProgressBar = std::make_unique<TUploadProgressBar>(
        this, QRect(barLeft, kProgressTop, 322 - barLeft, kProgressHeight));
    UploadProgressBar->setRange(0, 1000);
    UploadProgressBar->setAccessibleName(QStringLiteral("Upload progress"));
    UploadProgressBar->setAccessibleDescription(
        QStringLiteral("How much of the save file being sent to the AS/400 is sent, how fast "
                       "it goes and how long it will still take"));
    UploadProgressBar->hide();

    SecurityLbl = MakeLabel(this, "", 0, kProgressTop, 0, kProgressHeight);
    SecurityLbl->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SecurityLbl->setGeometry(QRect()); // takes no room until a run shows it
    SecurityLbl->hide();

    QWidget* const order[] = {
        SystemEdt.get(), UserIdEdt.get(), PassEdt.get(),    TargetLibEdt.get(), Replaceopt.get(),
        ApplyBtn.get(),  CancelBtn.get(), StatusMemo.get(), Button1.get(),      ReadmeBtn.get()};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    connect(ApplyBtn.get(), &QPushButton::clicked, this, [this] { ApplyBtnClick(); });
    connect(CancelBtn.get(), &QPushButton::clicked, this,
            [this] { Guarded([this] { CancelBtnClick(); }); });
    connect(Button1.get(), &QPushButton::clicked, this,
            [this] { Guarded([this] { Button1Click(); }); });
    connect(ReadmeBtn.get(), &QPushButton::clicked, this,
            [this] { Guarded([this] { ReadmeBtnClick(); }); });
}

void TApplyUpdateForm::SetDialogs(TNameFmt* nameFmt, TReadme* readme) {
    nameFmt_ = nameFmt;
    readme_ = readme;
    if (readme_ != nullptr)
        readme_->OnAcknowledge = [this] { readmeAcknowledged_ = true; };
    if (nameFmt_ != nullptr)
        nameFmt_->Choose({nameFmt_->ItemIndex(), static_cast<int>(startOptions_.security),
                          static_cast<int>(startOptions_.dataConnection)});
}

void TApplyUpdateForm::SetApplyProcedure(std::function<void()> procedure) {
    applyProcedure_ = std::move(procedure);
}

void TApplyUpdateForm::FormCreate() {
    values_ = LoadProgramValues(executablePath_);
    ShowFieldTexts(ReadFieldTexts(*values_.descriptor));
    setWindowTitle(ToQString(CaptionFor(values_.shownUpdateId)));
    // A descriptor whose choice names nothing the installer knows, or whose names are no
    // names, is refused here, before the window shows: the package is broken, not the
    // operator's input.
    startOptions_ = ReadStartOptions(*values_.descriptor);
    CheckDescriptorValues(*values_.descriptor);
}

void TApplyUpdateForm::ShowFieldTexts(const FieldTexts& texts) {
    UpdName->setText(ToQString(texts.description));
    TargetLibEdt->setText(ToQString(texts.targetLibrary));
    UserIdEdt->setText(ToQString(texts.userId));
    SystemEdt->setText(ToQString(texts.ipAddress));
}

void TApplyUpdateForm::FormShow() {
    const std::string readmePath = platform::ExtractFilePath(executablePath_) + kReadmeName;
    if (FileExists(readmePath)) {
        ReadmeBtn->setEnabled(true);
        if (readme_ != nullptr)
            readme_->LoadFromFile(readmePath);
    }
    readmeAcknowledged_ = false;
}

void TApplyUpdateForm::FormClose() {
    values_.descriptor.reset();
}

void TApplyUpdateForm::ApplyBtnClick() {
    Guarded([this] {
        if (applyProcedure_)
            applyProcedure_();
    });
}

void TApplyUpdateForm::CancelBtnClick() {
    if (procedure_->Busy()) {
        procedure_->Stop();
        return;
    }
    close();
}

void TApplyUpdateForm::FtpConnectionFailed() {
    procedure_->FtpConnectionFailed();
}

void TApplyUpdateForm::Button1Click() {
    if (nameFmt_ == nullptr)
        return;
    const TNameFmt::Choices remembered = nameFmt_->Chosen();
    if (nameFmt_->exec() != mrOk)
        nameFmt_->Choose(remembered);
}

void TApplyUpdateForm::ReadmeBtnClick() {
    ShowReadmeModal();
}

void TApplyUpdateForm::Exit1Click() {
    close();
}

void TApplyUpdateForm::Reset1Click() {
    if (values_.descriptor)
        ShowFieldTexts(ReadFieldTexts(*values_.descriptor));
}

void TApplyUpdateForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return; // restored from the task bar, not shown anew
    CentreWindow(*this, nullptr);
    Guarded([this] { FormShow(); });
}

void TApplyUpdateForm::closeEvent(QCloseEvent* event) {
    // While Apply runs the window takes no input, and that includes its close box.
    if (inputBlocked_ || procedure_->Busy()) {
        event->ignore();
        return;
    }
    Guarded([this] { FormClose(); });
    QDialog::closeEvent(event);
}

void TApplyUpdateForm::keyPressEvent(QKeyEvent* event) {
    // Esc is bound to nothing; a dialog would otherwise close (and end the program).
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::vector<std::string> TApplyUpdateForm::LogLines() const {
    // Every line of the log ends with a line break, so the text after the last one is a
    // line only when something was typed there.
    const QStringList blocks = StatusMemo->toPlainText().split(QLatin1Char('\n'));
    std::vector<std::string> lines;
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        if (i + 1 == blocks.size() && blocks[i].isEmpty())
            break;
        lines.push_back(FromQString(blocks[i]));
    }
    return lines;
}

void TApplyUpdateForm::ShowMessage(const std::string& text) {
    installer::ShowMessage(text);
}

void TApplyUpdateForm::ErrorDialog(const std::string& text) {
    ShowErrorDialog(text);
}

int TApplyUpdateForm::ShowReadmeModal() {
    return readme_ != nullptr ? readme_->exec() : mrCancel;
}

void TApplyUpdateForm::SetBusyCursor() {
    if (QApplication::overrideCursor() != nullptr)
        QApplication::changeOverrideCursor(Qt::WaitCursor);
    else
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TApplyUpdateForm::SetNormalCursor() {
    while (QApplication::overrideCursor() != nullptr)
        QApplication::restoreOverrideCursor();
}

void TApplyUpdateForm::SetWindowEnabled(bool enabled) {
    if (enabled == !inputBlocked_)
        return;
    inputBlocked_ = !enabled;
    if (!enabled) {
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // Stop stays usable, and the progress, which takes no input, stays readable.
            if (child == CancelBtn.get() || child == UploadProgressBar.get() ||
                child == SecurityLbl.get() || child->isWindow())
                continue;
            blockedControls_[child] = child->isEnabled();
            child->setEnabled(false);
        }
        return;
    }
    for (const auto& [control, wasEnabled] : blockedControls_)
        control->setEnabled(wasEnabled);
    blockedControls_.clear();
}

QWidget* TApplyUpdateForm::ControlWidget(ApplyControl control) const {
    switch (control) {
    case ApplyControl::SystemEdt:
        return SystemEdt.get();
    case ApplyControl::UserIdEdt:
        return UserIdEdt.get();
    case ApplyControl::PassEdt:
        return PassEdt.get();
    case ApplyControl::TargetLibEdt:
        return TargetLibEdt.get();
    case ApplyControl::Replaceopt:
        return Replaceopt.get();
    case ApplyControl::ApplyBtn:
        return ApplyBtn.get();
    case ApplyControl::CancelBtn:
        return CancelBtn.get();
    }
    return nullptr;
}

void TApplyUpdateForm::SetControlEnabled(ApplyControl control, bool enabled) {
    QWidget* widget = ControlWidget(control);
    if (widget == nullptr)
        return;
    // While the window takes no input a control only remembers its own state.
    if (const auto blocked = blockedControls_.find(widget); blocked != blockedControls_.end())
        blocked->second = enabled;
    else
        widget->setEnabled(enabled);
}

QLineEdit* TApplyUpdateForm::FieldEdit(ApplyField field) const {
    switch (field) {
    case ApplyField::SystemEdt:
        return SystemEdt.get();
    case ApplyField::UserIdEdt:
        return UserIdEdt.get();
    case ApplyField::PassEdt:
        return PassEdt.get();
    case ApplyField::TargetLibEdt:
        return TargetLibEdt.get();
    }
    return nullptr;
}

std::string TApplyUpdateForm::FieldText(ApplyField field) const {
    const QLineEdit* edit = FieldEdit(field);
    return edit != nullptr ? FromQString(edit->text()) : std::string();
}

bool TApplyUpdateForm::FieldSendable(ApplyField field) const {
    const QLineEdit* edit = FieldEdit(field);
    if (edit == nullptr)
        return true;
    const QString text = edit->text();
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

bool TApplyUpdateForm::ReplaceChecked() const {
    return Replaceopt->isChecked();
}

ConnectionOptions TApplyUpdateForm::ConnectionChoice() const {
    ConnectionOptions options = startOptions_;
    // The CA file is the package's: read when asked, as the other package files are.
    if (values_.descriptor)
        options.caFile = values_.descriptor->ReadString(kDefaultsSection, kCAFileKey, "");
    if (nameFmt_ != nullptr) {
        options.security = static_cast<SecurityChoice>(nameFmt_->Security.ItemIndex());
        options.dataConnection =
            static_cast<DataConnectionChoice>(nameFmt_->DataConnection.ItemIndex());
    }
    return options;
}

bool TApplyUpdateForm::ConfirmCertificate(const CertificateQuestion& question) {
    return AskToTrustCertificate(question);
}

int TApplyUpdateForm::NameFormatIndex() const {
    return nameFmt_ != nullptr ? nameFmt_->ItemIndex() : kNameFormatUnchanged;
}

void TApplyUpdateForm::ClearLog() {
    StatusMemo->clear();
    // A run begins: its lines may carry its password back (a host that echoes it).
    logPassword_ = PassEdt->text();
}

void TApplyUpdateForm::AddLine(const std::string& message, int blankLines) {
    QTextDocument* log = StatusMemo->document();
    QString text;
    // Text typed after the last line break is a line of its own; keep it apart.
    const int characters = log->characterCount();
    if (characters > 1 && log->characterAt(characters - 2) != QChar::ParagraphSeparator)
        text += QLatin1Char('\n');
    for (int i = 0; i < blankLines; ++i)
        text += QStringLiteral(" \n");
    text += LogText(message) + QLatin1Char('\n');

    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    // The newest line stays in view.
    StatusMemo->verticalScrollBar()->setValue(StatusMemo->verticalScrollBar()->maximum());
}

void TApplyUpdateForm::ShowUploadProgress(int permille, const std::string& text) {
    TUploadProgressBar& bar = *UploadProgressBar;
    bar.setValue(std::clamp(permille, 0, 1000));
    bar.SetText(ToQString(text));
    if (bar.isHidden())
        bar.show();
}

void TApplyUpdateForm::ShowConnectionSecurity(const std::string& state) {
    const QRect row = UploadProgressBar->geometry().united(SecurityLbl->geometry());
    if (state.empty()) {
        SecurityLbl->hide();
        SecurityLbl->setGeometry(QRect());
        UploadProgressBar->Place(row);
        return;
    }
    const QString text = ToQString(state);
    const QString detail = state == kNotSecured
                               ? QString::fromLatin1(kNotSecuredDetail)
                               : QStringLiteral("The password and the update are encrypted.");
    SecurityLbl->setText(text);
    SecurityLbl->setToolTip(detail);
    SecurityLbl->setAccessibleName(text);
    SecurityLbl->setAccessibleDescription(detail);
    const int width = SecurityLbl->sizeHint().width();
    SecurityLbl->setGeometry(row.right() + 1 - width, row.top(), width, row.height());
    UploadProgressBar->Place(
        QRect(row.left(), row.top(), row.width() - width - kProgressGap, row.height()));
    SecurityLbl->show();
}

void TApplyUpdateForm::HideUploadProgress() {
    UploadProgressBar->hide();
    UploadProgressBar->reset();
    UploadProgressBar->SetText(QString());
}

std::unique_ptr<QMenu> TApplyUpdateForm::CreateLogMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setFont(WindowFont());
    QAction* copy =
        menu->addAction(QStringLiteral("Copy"), StatusMemo.get(), &QPlainTextEdit::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(StatusMemo->textCursor().hasSelection());
    QAction* all =
        menu->addAction(QStringLiteral("Select All"), StatusMemo.get(), &QPlainTextEdit::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(!StatusMemo->document()->isEmpty());
    menu->addSeparator();
    menu->addAction(QStringLiteral("Save Log As..."), this,
                    [this] { Guarded([this] { SaveLogAs(); }); });
    return menu;
}

QString TApplyUpdateForm::DefaultLogPath() const {
    const QString name = ToQString(SavedLogName(
        values_.shownUpdateId, FromQString(QDate::currentDate().toString(Qt::ISODate))));
    const QFileInfo package(QString::fromStdString(ExecutableDirectory()));
    const QString folder =
        package.isDir() && package.isWritable() ? package.absoluteFilePath() : QDir::homePath();
    return QDir(folder).filePath(name);
}

void TApplyUpdateForm::SaveLogAs() {
    QFileDialog dialog(this, QStringLiteral("Save Log As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Log files (*.log)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("log"));
    const QFileInfo suggested(DefaultLogPath());
    dialog.setDirectory(suggested.absolutePath());
    dialog.selectFile(suggested.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (!WriteLog(path))
        ShowErrorReport(
            QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(path)));
}

bool TApplyUpdateForm::WriteLog(const QString& path) const {
    const std::string text =
        MaskPasswords(StatusMemo->toPlainText().toStdString(),
                      {logPassword_.toStdString(), PassEdt->text().toStdString()});
    // Readable by its owner only: the log holds the host's conversation.
    return platform::WritePrivateFile(path.toUtf8().toStdString(), text);
}

std::string TApplyUpdateForm::ExecutableDirectory() const {
    return platform::IncludeTrailingPathDelimiter(platform::ExtractFilePath(executablePath_));
}

bool TApplyUpdateForm::FileExists(const std::string& path) const {
    return platform::FileExists(path);
}

} // namespace installer
