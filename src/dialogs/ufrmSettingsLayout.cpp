// The controls of the settings dialog and their places. Fixed captions are set
// here; everything that follows the language is set by ApplyLanguage.
#include "uAccessibility.h"
#include "uServerPaths.h"
#include "uTCheckListBox.h"
#include "uTImageList.h"
#include "uTLinkLabel.h"
#include "ufrmSettings.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>

namespace {

constexpr int ButtonWidth = 115;
constexpr int ButtonHeight = 25;

template <typename T> T* Named(T* Control, const char* Name) {
    Control->setObjectName(QString::fromLatin1(Name));
    return Control;
}

QPushButton* MakeButton(QWidget* Parent, const char* Name, int Width = ButtonWidth) {
    auto* Button = Named(new QPushButton(Parent), Name);
    Button->setMinimumSize(Width, ButtonHeight);
    // Return or Enter presses the button that has the focus.
    Button->setAutoDefault(true);
    return Button;
}

QGroupBox* BoldGroup(QWidget* Parent, const char* Name) {
    auto* Group = Named(new QGroupBox(Parent), Name);
    Group->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; } QGroupBox * { font-weight: normal; }"));
    return Group;
}

QLabel* BoldLabel(const QString& Text, QWidget* Parent, const char* Name) {
    auto* Label = Named(new QLabel(Text, Parent), Name);
    QFont Font = Label->font();
    Font.setBold(true);
    Label->setFont(Font);
    Label->setWordWrap(true);
    return Label;
}

TLinkLabel* LinkLabel(const QString& Text, QWidget* Parent, const char* Name) {
    return Named(new TLinkLabel(Text, Parent), Name);
}

QLineEdit* MakeEdit(QWidget* Parent, const char* Name, int MaxLength) {
    auto* Edit = Named(new QLineEdit(Parent), Name);
    Edit->setMaxLength(MaxLength);
    return Edit;
}

QLabel* BuddyLabel(const QString& Text, QWidget* Buddy, const char* Name) {
    auto* Label = Named(new QLabel(Text, Buddy->parentWidget()), Name);
    Label->setBuddy(Buddy);
    return Label;
}

// The banner across the top: the program's colours, its icon and name.
QPixmap BannerPicture(int Width) {
    QPixmap Picture(Width, 30);
    QPainter Painter(&Picture);
    QLinearGradient Gradient(0, 0, Width, 0);
    Gradient.setColorAt(0, QColor(128, 0, 0));
    Gradient.setColorAt(1, QColor(230, 120, 90));
    Painter.fillRect(Picture.rect(), Gradient);
    Painter.drawPixmap(8, 3, TImageList::TrayIcon().pixmap(24, 24));
    QFont Font = Painter.font();
    Font.setBold(true);
    Font.setPixelSize(16);
    Painter.setFont(Font);
    Painter.setPen(Qt::white);
    Painter.drawText(QRect(40, 0, Width - 48, 30), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Quorvantis"));
    return Picture;
}

// The vendor web site as the sweepstakes tab names it: the server's host (and port).
QString WebsiteName() {
    const QUrl Url(BuildServerURL(TServerPath::Home));
    QString Name = Url.host();
    if (Url.port() > 0)
        Name += QStringLiteral(":") + QString::number(Url.port());
    return Name.isEmpty() ? Url.toString() : Name;
}

} // namespace

QWidget* TfrmSettings::CreateShopsTab() {
    auto* Tab = Named(new QWidget, "tabShops");
    auto* Row = new QHBoxLayout(Tab);

    gbxCategories = BoldGroup(Tab, "gbxCategories");
    auto* Left = new QVBoxLayout(gbxCategories);
    labCategories = Named(new QLabel(gbxCategories), "labCategories");
    labCategories->setWordWrap(true);
    labCategories->setMinimumHeight(41);
    labCategories->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbxCategories = Named(new TCheckListBox(gbxCategories), "lbxCategories");
    lbxCategories->SetPathSeparator(QStringLiteral("->"));
    labCategories->setBuddy(lbxCategories);
    Left->addWidget(labCategories);
    Left->addWidget(lbxCategories, 1);
    // Keeps the two lists the same height as the button on the right.
    Left->addSpacing(ButtonHeight + Left->spacing());

    gbxShops = BoldGroup(Tab, "gbxShops");
    auto* Right = new QGridLayout(gbxShops);
    imgShops = Named(new QLabel(gbxShops), "imgShops");
    imgShops->setPixmap(QIcon(QStringLiteral(":/pictures/cart.svg")).pixmap(32, 32));
    imgShops->setFixedSize(32, 32);
    MarkDecorative(*imgShops);
    labShopsText = Named(new QLabel(gbxShops), "labShopsText");
    labShopsText->setWordWrap(true);
    labShopsText->setMinimumHeight(41);
    labShopsText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lbxShops = Named(new TCheckListBox(gbxShops), "lbxShops");
    labShopsText->setBuddy(lbxShops);
    btnUpdateShops = MakeButton(gbxShops, "btnUpdateShops");
    Right->addWidget(imgShops, 0, 0, Qt::AlignTop);
    Right->addWidget(labShopsText, 0, 1);
    Right->addWidget(lbxShops, 1, 0, 1, 2);
    Right->addWidget(btnUpdateShops, 2, 0, 1, 2, Qt::AlignRight);
    Right->setRowStretch(1, 1);
    Right->setColumnStretch(1, 1);

    Row->addWidget(gbxCategories, 1);
    Row->addWidget(gbxShops, 1);

    connect(lbxCategories, &TCheckListBox::Click, this, &TfrmSettings::lbxCategoriesClick);
    connect(lbxShops, &TCheckListBox::Click, this, &TfrmSettings::lbxShopsClick);
    connect(lbxShops, &QListWidget::itemDoubleClicked, this, &TfrmSettings::lbxShopsDblClick);
    connect(btnUpdateShops, &QPushButton::clicked, this, &TfrmSettings::btnUpdateShopsClick);
    return Tab;
}

QWidget* TfrmSettings::CreatePersonalLinksTab() {
    auto* Tab = Named(new QWidget, "tabPersonalLinks");
    auto* Outer = new QVBoxLayout(Tab);
    gbxPersonalLinks = BoldGroup(Tab, "gbxPersonalLinks");
    gbxPersonalLinks->setTitle(QStringLiteral("Links"));
    Outer->addWidget(gbxPersonalLinks);

    auto* Grid = new QGridLayout(gbxPersonalLinks);
    labPersonalLinks = Named(new QLabel(gbxPersonalLinks), "labPersonalLinks");
    labPersonalLinks->setWordWrap(true);
    labPersonalLinks->setMinimumHeight(41);
    labPersonalLinks->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lbxPersonalLinks = Named(new QTreeWidget(gbxPersonalLinks), "lbxPersonalLinks");
    lbxPersonalLinks->setColumnCount(2);
    lbxPersonalLinks->setRootIsDecorated(false);
    lbxPersonalLinks->setUniformRowHeights(true);
    lbxPersonalLinks->setSelectionBehavior(QAbstractItemView::SelectRows);
    lbxPersonalLinks->setSelectionMode(QAbstractItemView::SingleSelection);
    lbxPersonalLinks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbxPersonalLinks->header()->setSectionResizeMode(QHeaderView::Interactive);
    lbxPersonalLinks->header()->setStretchLastSection(true);
    lbxPersonalLinks->setColumnWidth(0, 150);
    lbxPersonalLinks->setColumnWidth(1, 141);
    lbxPersonalLinks->setAccessibleName(QStringLiteral("Links"));
    labPersonalLinks->setBuddy(lbxPersonalLinks);

    btnCallPersonalLink = MakeButton(gbxPersonalLinks, "btnCallPersonalLink");
    btnAddPersonalLink = MakeButton(gbxPersonalLinks, "btnAddPersonalLink");
    btnEditPersonalLink = MakeButton(gbxPersonalLinks, "btnEditPersonalLink");
    btnDeletePersonalLink = MakeButton(gbxPersonalLinks, "btnDeletePersonalLink");
    auto* Buttons = new QVBoxLayout;
    for (QPushButton* Button : {btnCallPersonalLink, btnAddPersonalLink, btnEditPersonalLink, btnDeletePersonalLink})
        Buttons->addWidget(Button);
    Buttons->addStretch(1);

    Grid->addWidget(labPersonalLinks, 0, 0, 1, 2);
    Grid->addWidget(lbxPersonalLinks, 1, 0);
    Grid->addLayout(Buttons, 1, 1);
    Grid->setColumnStretch(0, 1);
    Grid->setRowStretch(1, 1);
    setTabOrder(btnCallPersonalLink, btnAddPersonalLink);
    setTabOrder(btnAddPersonalLink, btnEditPersonalLink);
    setTabOrder(btnEditPersonalLink, btnDeletePersonalLink);
    setTabOrder(btnDeletePersonalLink, lbxPersonalLinks);

    connect(lbxPersonalLinks, &QTreeWidget::itemSelectionChanged, this, &TfrmSettings::lbxPersonalLinksClick);
    connect(lbxPersonalLinks, &QTreeWidget::itemDoubleClicked, this, &TfrmSettings::btnCallPersonalLinkClick);
    connect(btnCallPersonalLink, &QPushButton::clicked, this, &TfrmSettings::btnCallPersonalLinkClick);
    connect(btnAddPersonalLink, &QPushButton::clicked, this, &TfrmSettings::btnAddPersonalLinkClick);
    connect(btnEditPersonalLink, &QPushButton::clicked, this, &TfrmSettings::btnEditPersonalLinkClick);
    connect(btnDeletePersonalLink, &QPushButton::clicked, this, &TfrmSettings::btnDeletePersonalLinkClick);
    return Tab;
}

QWidget* TfrmSettings::CreateApplicationsTab() {
    auto* Tab = Named(new QWidget, "tabApplications");
    auto* Column = new QVBoxLayout(Tab);

    gbxStartSettings = Named(new QGroupBox(Tab), "gbxStartSettings");
    auto* Start = new QHBoxLayout(gbxStartSettings);
    cbxAutoStart = Named(new QCheckBox(gbxStartSettings), "cbxAutoStart");
    Start->addWidget(cbxAutoStart);
    Start->addStretch(1);

    gbxLanguage = Named(new QGroupBox(Tab), "gbxLanguage");
    auto* Language = new QHBoxLayout(gbxLanguage);
    rdbLanguageGerman = Named(new QRadioButton(gbxLanguage), "rdbLanguageGerman");
    rdbLanguageEnglish = Named(new QRadioButton(gbxLanguage), "rdbLanguageEnglish");
    rdbLanguageFrench = Named(new QRadioButton(QStringLiteral("&Francais"), gbxLanguage), "rdbLanguageFrench");
    rdbLanguageFrench->setVisible(false);
    rdbLanguageFrench->setEnabled(false);
    Language->addWidget(rdbLanguageGerman);
    Language->addSpacing(24);
    Language->addWidget(rdbLanguageEnglish);
    Language->addStretch(1);

    gbxSoftwareUpdate = Named(new QGroupBox(Tab), "gbxSoftwareUpdate");
    auto* Update = new QHBoxLayout(gbxSoftwareUpdate);
    labVersion = Named(new QLabel(gbxSoftwareUpdate), "labVersion");
    btnSoftwareUpdate = MakeButton(gbxSoftwareUpdate, "btnSoftwareUpdate");
    Update->addWidget(labVersion);
    Update->addStretch(1);
    Update->addWidget(btnSoftwareUpdate);

    gbxNewsletter = Named(new QGroupBox(QStringLiteral("Newsletter"), Tab), "gbxNewsletter");
    auto* News = new QHBoxLayout(gbxNewsletter);
    edtEmail = MakeEdit(gbxNewsletter, "edtEmail", 100);
    edtEmail->setMinimumWidth(161);
    // Alt+E is "English" on the same tab.
    labEmail = BuddyLabel(QStringLiteral("E&mail"), edtEmail, "labEmail");
    rdbRetrieve = Named(new QRadioButton(gbxNewsletter), "rdbRetrieve");
    rdbRetrieve->setChecked(true);
    rdbDelete = Named(new QRadioButton(gbxNewsletter), "rdbDelete");
    btnGetNewsletter = MakeButton(gbxNewsletter, "btnGetNewsletter");
    News->addWidget(labEmail);
    News->addWidget(edtEmail, 1);
    News->addWidget(rdbRetrieve);
    News->addWidget(rdbDelete);
    News->addWidget(btnGetNewsletter);

    for (QGroupBox* Group : {gbxStartSettings, gbxLanguage, gbxSoftwareUpdate, gbxNewsletter})
        Column->addWidget(Group);
    Column->addStretch(1);

    connect(rdbLanguageGerman, &QRadioButton::clicked, this, &TfrmSettings::rdbLanguageGermanClick);
    connect(rdbLanguageEnglish, &QRadioButton::clicked, this, &TfrmSettings::rdbLanguageEnglishClick);
    connect(btnSoftwareUpdate, &QPushButton::clicked, this, &TfrmSettings::btnSoftwareUpdateClick);
    connect(btnGetNewsletter, &QPushButton::clicked, this, &TfrmSettings::btnGetNewsletterClick);
    return Tab;
}

QWidget* TfrmSettings::CreateFeedbackTab() {
    auto* Tab = Named(new QWidget, "tabFeedback");
    auto* Column = new QVBoxLayout(Tab);
    labFeedbackTitle = BoldLabel(QString(), Tab, "labFeedbackTitle");

    rdbFeedbackType = Named(new QGroupBox(Tab), "rdbFeedbackType");
    auto* Types = new QHBoxLayout(rdbFeedbackType);
    for (int I = 0; I < 3; ++I) {
        rdbFeedbackItems[I] = new QRadioButton(rdbFeedbackType);
        rdbFeedbackItems[I]->setObjectName(QStringLiteral("rdbFeedbackType%1").arg(I));
        Types->addWidget(rdbFeedbackItems[I], 1);
    }
    rdbFeedbackItems[0]->setChecked(true);

    edtFeedback = Named(new QPlainTextEdit(Tab), "edtFeedback");
    edtFeedback->setTabChangesFocus(true); // a feedback needs no tab characters; keyboard users need Tab
    edtFeedback->setAccessibleName(QStringLiteral("Feedback"));
    labFeedbackTitle->setBuddy(edtFeedback);
    edtFeedback->viewport()->installEventFilter(this);
    edtFeedback->installEventFilter(this);

    auto* Bottom = new QHBoxLayout;
    edtFeedbackEmail = MakeEdit(Tab, "edtFeedbackEmail", 100);
    edtFeedbackEmail->setMinimumWidth(200);
    labFeedbackEmail = BuddyLabel(QStringLiteral("E&mail"), edtFeedbackEmail, "labFeedbackEmail");
    btnSendFeedback = MakeButton(Tab, "btnSendFeedback");
    Bottom->addWidget(labFeedbackEmail);
    Bottom->addWidget(edtFeedbackEmail, 1);
    Bottom->addSpacing(24);
    Bottom->addWidget(btnSendFeedback);

    Column->addWidget(labFeedbackTitle);
    Column->addWidget(rdbFeedbackType);
    Column->addWidget(edtFeedback, 1);
    Column->addLayout(Bottom);

    connect(btnSendFeedback, &QPushButton::clicked, this, &TfrmSettings::btnSendFeedbackClick);
    return Tab;
}

QWidget* TfrmSettings::CreateGewinnspielTab() {
    auto* Tab = Named(new QWidget, "tabGewinnspiel");
    auto* Column = new QVBoxLayout(Tab);
    Column->setSpacing(4);
    Column->addWidget(
        BoldLabel(QStringLiteral("Hier können Sie am Gewinnspiel teilnehmen."), Tab, "lblGewinnspielTitle"));
    Column->addWidget(
        Named(new QLabel(QStringLiteral("Beantworten Sie hierzu folgende Frage:"), Tab), "lblQuestionTitle"));
    QLabel* lblQuestion = BoldLabel(QStringLiteral("Was ist Quorvantis?"), Tab, "lblQuestion");
    Column->addWidget(lblQuestion);
    // Their own parent, so choosing an answer leaves the other radio buttons alone;
    // named and labelled by the question, so a screen reader says what they answer.
    auto* Answers = Named(new QWidget(Tab), "pnlAnswers");
    Answers->setAccessibleName(lblQuestion->text());
    lblQuestion->setBuddy(Answers);
    auto* AnswerRow = new QHBoxLayout(Answers);
    AnswerRow->setContentsMargins(0, 0, 0, 0);
    rdbAnswer1 = Named(new QRadioButton(QStringLiteral("Ein Computerspiel"), Answers), "rdbAnswer1");
    rdbAnswer2 = Named(new QRadioButton(QStringLiteral("Ein Programm, mit dem man günstig Einkaufen kann"), Answers),
                       "rdbAnswer2");
    AnswerRow->addWidget(rdbAnswer1);
    AnswerRow->addWidget(rdbAnswer2);
    AnswerRow->addStretch(1);
    Column->addWidget(Answers);

    auto* More = new QHBoxLayout;
    More->addWidget(Named(new QLabel(QStringLiteral("Weitere Informationen finden Sie unter:"), Tab), "lblMoreInfo"));
    labWebsite = LinkLabel(WebsiteName(), Tab, "labWebsite");
    More->addWidget(labWebsite);
    More->addStretch(1);
    Column->addLayout(More);

    auto* Form = new QGridLayout;
    Form->setVerticalSpacing(4);
    edtPrename = MakeEdit(Tab, "edtPrename", 50);
    edtName = MakeEdit(Tab, "edtName", 50);
    edtStreet = MakeEdit(Tab, "edtStreet", 100);
    edtPLZ = MakeEdit(Tab, "edtPLZ", 6);
    edtCity = MakeEdit(Tab, "edtCity", 50);
    cboCountry = Named(new QComboBox(Tab), "cboCountry");
    cboCountry->addItems({QStringLiteral("Deutschland"), QStringLiteral("Östereich"), QStringLiteral("Schweiz")});
    cboCountry->setCurrentIndex(0);
    edtGewinnspielEmail = MakeEdit(Tab, "edtGewinnspielEmail", 100);
    // Named by its label for screen readers; its access key is given with the others.
    auto* lblCountry = BuddyLabel(QStringLiteral("Land"), cboCountry, "lblCountry");
    Form->addWidget(BuddyLabel(QStringLiteral("&Vorname"), edtPrename, "lblPrename"), 0, 0);
    Form->addWidget(edtPrename, 0, 1);
    Form->addWidget(BuddyLabel(QStringLiteral("&Nachname"), edtName, "lblName"), 0, 2);
    Form->addWidget(edtName, 0, 3);
    Form->addWidget(BuddyLabel(QStringLiteral("&Straße"), edtStreet, "lblStreet"), 1, 0);
    Form->addWidget(edtStreet, 1, 1, 1, 3);
    Form->addWidget(BuddyLabel(QStringLiteral("&PLZ"), edtPLZ, "lblPLZ"), 2, 0);
    Form->addWidget(edtPLZ, 2, 1);
    Form->addWidget(BuddyLabel(QStringLiteral("O&rt"), edtCity, "lblCity"), 2, 2);
    Form->addWidget(edtCity, 2, 3);
    Form->addWidget(lblCountry, 3, 0);
    Form->addWidget(cboCountry, 3, 1);
    Form->addWidget(BuddyLabel(QStringLiteral("E&mail"), edtGewinnspielEmail, "lblGewinnspielEmail"), 3, 2);
    Form->addWidget(edtGewinnspielEmail, 3, 3);
    Form->setColumnStretch(1, 1);
    Form->setColumnStretch(3, 1);
    Column->addLayout(Form);

    auto* Accept = new QHBoxLayout;
    Accept->setSpacing(4);
    cbxAccept = Named(new QCheckBox(QStringLiteral("Ja, ich akzeptiere die"), Tab), "cbxAccept");
    // The sentence goes on after the box in a link and a label; a screen reader hears it whole.
    cbxAccept->setAccessibleName(QStringLiteral("Ja, ich akzeptiere die Teilnahmebedingungen des Gewinnspiels."));
    lblAccept1 = LinkLabel(QStringLiteral("Teilnahmebedingungen"), Tab, "lblAccept1");
    btnGewinnspiel = MakeButton(Tab, "btnGewinnspiel");
    btnGewinnspiel->setText(QStringLiteral("&Teilnehmen"));
    Accept->addWidget(cbxAccept);
    Accept->addWidget(lblAccept1);
    Accept->addWidget(Named(new QLabel(QStringLiteral("des Gewinnspiels."), Tab), "lblAccept2"));
    Accept->addStretch(1);
    Accept->addWidget(btnGewinnspiel);
    Column->addStretch(1);
    Column->addLayout(Accept);

    connect(btnGewinnspiel, &QPushButton::clicked, this, &TfrmSettings::btnGewinnspielClick);
    connect(labWebsite, &TLinkLabel::Clicked, this, &TfrmSettings::labWebsiteClick);
    connect(lblAccept1, &TLinkLabel::Clicked, this, &TfrmSettings::lblAccept1Click);
    return Tab;
}

void TfrmSettings::FormCreate() {
    auto* Column = new QVBoxLayout(this);
    Column->setContentsMargins(0, 0, 0, 0);
    Column->setSpacing(0);
    imgTop = Named(new QLabel(this), "imgTop");
    imgTop->setFixedHeight(30);
    // Wider than any width the window takes; the label shows what fits.
    imgTop->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    imgTop->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgTop->setPixmap(BannerPicture(1200));
    MarkDecorative(*imgTop);
    Column->addWidget(imgTop);

    auto* Body = new QVBoxLayout;
    Body->setContentsMargins(12, 10, 12, 8);
    pcSettings = Named(new QTabWidget(this), "pcSettings");
    tabShops = CreateShopsTab();
    tabPersonalLinks = CreatePersonalLinksTab();
    tabApplications = CreateApplicationsTab();
    tabFeedback = CreateFeedbackTab();
    tabGewinnspiel = CreateGewinnspielTab();
    pcSettings->addTab(tabShops, QStringLiteral("Shops"));
    pcSettings->addTab(tabPersonalLinks, QStringLiteral("Eigene Links"));
    pcSettings->addTab(tabApplications, QStringLiteral("Programm"));
    pcSettings->addTab(tabFeedback, QStringLiteral("Feedback"));
    pcSettings->addTab(tabGewinnspiel, QStringLiteral("Gewinnspiel"));
    Body->addWidget(pcSettings, 1);

    auto* Buttons = new QHBoxLayout;
    btnOk = MakeButton(this, "btnOk", 85);
    btnCancel = MakeButton(this, "btnCancel", 85);
    btnHelp = MakeButton(this, "btnHelp", 85);
    btnOk->setDefault(true);
    Buttons->addStretch(1);
    Buttons->addWidget(btnOk);
    Buttons->addWidget(btnCancel);
    Buttons->addWidget(btnHelp);
    Body->addSpacing(8);
    Body->addLayout(Buttons);
    Column->addLayout(Body, 1);

    pnlStatusBar = Named(new QStatusBar(this), "pnlStatusBar");
    pnlStatusBar->setSizeGripEnabled(false);
    pnlStatusBar->setFixedHeight(19 + 2);
    Column->addWidget(pnlStatusBar);

    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmSettings::btnHelpClick);
}
