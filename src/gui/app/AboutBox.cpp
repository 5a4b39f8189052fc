#include "app/AboutBox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ToolIcons.h"
#include "display/BoldJapaneseFace.h"
#include "support/StringIds.h"

namespace corvane::gui {
namespace {

const QColor UnvisitedLink(0x00, 0x80, 0x00);
const QColor VisitedLink(0x80, 0x00, 0x80);

// The desktops' system information programs, the most thorough first.
constexpr const char* SystemInfoPrograms[] = {
    "hardinfo2", "hardinfo", "kinfocenter", "lshw-gtk", "gnome-system-monitor",
};

} // namespace

HyperlinkLabel::HyperlinkLabel(QWidget* parent) : QLabel(parent) {
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setTextInteractionFlags(Qt::NoTextInteraction);
    applyColour();
}

QColor HyperlinkLabel::linkColour() const {
    return m_visited ? VisitedLink : UnvisitedLink;
}

void HyperlinkLabel::applyColour() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, linkColour());
    setPalette(colours);
}

void HyperlinkLabel::activate() {
    if (!m_visited) {
        m_visited = true;
        applyColour();
        repaint(); // purple before the mail program or browser takes over the screen
    }
    if (m_onActivated)
        m_onActivated();
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        activate();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

QString findSystemInfoProgram(const QString& searchPath) {
    const QStringList folders = searchPath.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const char* program : SystemInfoPrograms) {
        for (const QString& folder : folders) {
            const QFileInfo candidate(QDir(folder).filePath(QLatin1String(program)));
            if (candidate.isFile() && candidate.isExecutable())
                return candidate.absoluteFilePath();
        }
    }
    return {};
}

AboutBox::AboutBox(const ProductStrings& product, Language language, const DialogServices& services,
                   QWidget* parent)
    : QDialog(parent), m_language(language), m_services(services) {
    setObjectName(QStringLiteral("aboutBox"));
    setProperty("controlId", DialogId);
    setWindowTitle(text(IDS_DLG_VERSION_INFO));
    m_systemInfoPath = findSystemInfoProgram(programSearchPath(m_services));
    buildWidgets(product);
}

QString AboutBox::text(int id) const {
    return QString::fromUtf8(WexLoadString(m_language, id));
}

HyperlinkLabel* AboutBox::addLinkRow(QGridLayout* grid, int row, int labelText, int labelId,
                                     int linkId, const char* name, const QString& address,
                                     const QString& url) {
    auto* label = new QLabel(text(labelText), this);
    label->setObjectName(QStringLiteral("%1Label").arg(QLatin1String(name)));
    label->setProperty("controlId", labelId);
    auto* link = new HyperlinkLabel(this);
    link->setObjectName(QStringLiteral("%1Link").arg(QLatin1String(name)));
    link->setProperty("controlId", linkId);
    link->setText(address);
    link->setToolTip(url);
    link->setOnActivated([this, url] { openUrl(m_services, url); });
    grid->addWidget(label, row, 0);
    grid->addWidget(link, row, 1, Qt::AlignLeft);
    // An address that is not there leaves no empty line behind.
    if (address.isEmpty()) {
        label->hide();
        link->hide();
    }
    return link;
}

void AboutBox::buildWidgets(const ProductStrings& product) {
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("productIcon"));
    // The program's own icon where the executable carries it; the Send picture otherwise.
    QIcon productIcon = QApplication::windowIcon();
    if (productIcon.isNull())
        productIcon = QIcon(QStringLiteral(":/icons/corvane-48.png"));
    if (productIcon.isNull() || productIcon.availableSizes().isEmpty())
        productIcon = toolIcon(ToolImage::Send);
    icon->setPixmap(productIcon.pixmap(48, 48));
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* informationGroup = new QGroupBox(text(IDS_GROUP_INFORMATION), this);
    informationGroup->setObjectName(QStringLiteral("informationGroup"));
    auto* information = new QLabel(informationGroup);
    information->setObjectName(QStringLiteral("informationText"));
    information->setProperty("controlId", InformationId);
    QFont bold = information->font();
    bold.setBold(true);
    if (bold.pointSizeF() > 0)
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
    else if (bold.pixelSize() > 0)
        bold.setPixelSize(int(bold.pixelSize() * 1.2));
    // Its Japanese words (the version line) must be as bold as the rest.
    if (m_language == Language::Japanese)
        bold = withBoldJapanese(bold);
    information->setFont(bold);
    information->setText(QStringLiteral("%1\n%2\n%3 %4")
                             .arg(QString::fromUtf8(product[ProductName]),
                                  QString::fromUtf8(product[ProductVersion]),
                                  QString::fromUtf8(product[ProductNotice]),
                                  QString::fromUtf8(product[ProductMaker])));
    information->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* links = new QGridLayout;
    links->setHorizontalSpacing(6);
    links->setColumnStretch(1, 1);
    const QString mail = QString::fromUtf8(product[ProductMail]);
    const QString homePage = QString::fromUtf8(product[ProductHomePage]);
    addLinkRow(links, 0, IDS_LBL_SUPPORT_MAIL, MailLabelId, MailLinkId, "mail", mail,
               QStringLiteral("mailto:") + mail);
    addLinkRow(links, 1, IDS_LBL_HOME_PAGE, HomePageLabelId, HomePageLinkId, "homePage", homePage,
               homePage);

    auto* informationLayout = new QVBoxLayout(informationGroup);
    informationLayout->addWidget(information);
    if (!mail.isEmpty() || !homePage.isEmpty()) {
        informationLayout->addSpacing(6);
        informationLayout->addLayout(links);
    } else {
        delete links; // its rows are hidden; nothing to lay out
    }

    auto* warningGroup = new QGroupBox(text(IDS_GROUP_WARNING), this);
    warningGroup->setObjectName(QStringLiteral("warningGroup"));
    auto* legal = new QLabel(text(IDS_LEGAL_NOTICE), warningGroup);
    legal->setObjectName(QStringLiteral("legalNotice"));
    legal->setWordWrap(true);
    auto* warningLayout = new QVBoxLayout(warningGroup);
    warningLayout->addWidget(legal);

    m_systemInfo = new QPushButton(text(IDS_BTN_SYSTEM_INFO), this);
    m_systemInfo->setObjectName(QStringLiteral("systemInfoButton"));
    m_systemInfo->setProperty("controlId", SystemInfoId);
    m_systemInfo->setAutoDefault(false);
    m_systemInfo->setEnabled(!m_systemInfoPath.isEmpty());
    if (!m_systemInfoPath.isEmpty())
        m_systemInfo->setToolTip(m_systemInfoPath);
    connect(m_systemInfo, &QPushButton::clicked, this,
            [this] { launchProgram(m_services, m_systemInfoPath); });

    auto* ok = new QPushButton(text(IDS_BTN_OK), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_systemInfo);
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* content = new QVBoxLayout;
    content->addWidget(informationGroup);
    content->addWidget(warningGroup);
    content->addSpacing(4);
    content->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addSpacing(6);
    layout->addLayout(content, 1);

    // Wide enough that the legal notice wraps into a few lines rather than a narrow column.
    const int width = fontMetrics().averageCharWidth() * 62;
    legal->setMinimumWidth(width);
    setSizeGripEnabled(false);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus();
}

void ShowAboutBox(QWidget* owner, const ProductStrings& product, Language language,
                  const DialogServices& services) {
    AboutBox box(product, language, services, owner);
    box.exec(); // the result means nothing: OK and Escape both just close
}

} // namespace corvane::gui
