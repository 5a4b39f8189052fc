#include "settings/PropertyDialog.h"

#include <cstdio>
#include <cstdlib>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/HelpViewer.h"
#include "display/ColourRef.h"
#include "display/LogPane.h"
#include "support/StringIds.h"

namespace corvane::gui {
namespace {

// A complement whose every channel lies this close to the background's is no better than the
// background itself (the greys in the middle of the range).
constexpr int MinChannelContrast = 96;

constexpr QSize SwatchSize(44, 14);

QPixmap swatch(Colour colour, qreal pixelRatio) {
    QPixmap pixmap(SwatchSize * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(QPoint(0, 0), SwatchSize), qColorFromRef(colour));
    painter.setPen(QColor(0, 0, 0, 140));
    painter.drawRect(QRect(QPoint(0, 0), SwatchSize - QSize(1, 1)));
    return pixmap;
}

QString hexName(Colour colour) {
    return qColorFromRef(colour).name().toUpper();
}

// The format strings of the table take only these arguments here.
QString format(const char* pattern, const char* a, const char* b) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, a, b);
    return QString::fromUtf8(buffer);
}

QString echoLine(const char* pattern, int count, const char* block) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, count, "", block);
    return QString::fromUtf8(buffer);
}

} // namespace

Colour readableTextColour(Colour background, Colour text) {
    if ((background & 0xFFFFFF) != (text & 0xFFFFFF))
        return text;
    const Colour complement = ~background & 0xFFFFFF;
    bool distinct = false;
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = int((background >> shift) & 0xFF);
        const int b = int((complement >> shift) & 0xFF);
        distinct = distinct || std::abs(a - b) >= MinChannelContrast;
    }
    if (distinct)
        return complement;
    const int red = int(background & 0xFF);
    const int green = int((background >> 8) & 0xFF);
    const int blue = int((background >> 16) & 0xFF);
    const int luma = (299 * red + 587 * green + 114 * blue) / 1000;
    return luma >= 128 ? 0x000000 : 0xFFFFFF;
}

PropertyDialog::PropertyDialog(AppConfig& config, Language language, const DialogServices& services,
                               std::string helpFilePath, QWidget* parent)
    : QDialog(parent), m_config(config), m_language(language), m_services(services),
      m_helpFilePath(std::move(helpFilePath)), m_previewConfig(config) {
    m_working[Background] = config.rgbBKColor;
    m_working[Text] = config.rgbFGColor;
    m_working[ControlCode] = config.rgbCtlColor;
    m_working[Flow] = config.rgbFlowColor;

    setObjectName(QStringLiteral("propertyDialog"));
    setProperty("controlId", DialogId);
    setWindowTitle(text(IDS_DLG_PROPERTY));
    buildWidgets();
    for (int slot = 0; slot < SlotCount; ++slot)
        showSwatch(Slot(slot));
    updatePreview();
}

PropertyDialog::~PropertyDialog() = default;

QString PropertyDialog::text(int id) const {
    return QString::fromUtf8(WexLoadString(m_language, id));
}

QPushButton* PropertyDialog::makeColourButton(Slot slot) {
    static constexpr struct {
        int id;
        const char* name;
    } ids[SlotCount] = {
        {BackgroundColorId, "backgroundColorButton"},
        {TextColorId, "textColorButton"},
        {ControlColorId, "controlColorButton"},
        {FlowColorId, "flowColorButton"},
    };
    auto* button = new QPushButton(this);
    button->setObjectName(QLatin1String(ids[slot].name));
    button->setProperty("controlId", ids[slot].id);
    button->setIconSize(SwatchSize);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, slot] { chooseColour(slot); });
    m_colourButtons[slot] = button;
    return button;
}

void PropertyDialog::buildWidgets() {
    // Delete the file history.
    auto* historyGroup = new QGroupBox(text(IDS_GROUP_DELETE_HISTORY), this);
    historyGroup->setObjectName(QStringLiteral("historyGroup"));
    m_ncDataButton = new QPushButton(text(IDS_BTN_NC_DATA), historyGroup);
    m_ncDataButton->setObjectName(QStringLiteral("ncDataButton"));
    m_ncDataButton->setProperty("controlId", NcDataId);
    m_machineDataButton = new QPushButton(text(IDS_BTN_MACHINE_DATA), historyGroup);
    m_machineDataButton->setObjectName(QStringLiteral("machineDataButton"));
    m_machineDataButton->setProperty("controlId", MachineDataId);
    for (QPushButton* button : {m_ncDataButton, m_machineDataButton}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(120);
    }
    m_ncDataButton->setEnabled(HistoryCount(m_config, 0) > 0);
    m_machineDataButton->setEnabled(HistoryCount(m_config, 1) > 0);
    connect(m_ncDataButton, &QPushButton::clicked, this, [this] { clearHistory(0); });
    connect(m_machineDataButton, &QPushButton::clicked, this, [this] { clearHistory(1); });
    auto* historyLayout = new QHBoxLayout(historyGroup);
    historyLayout->addWidget(m_ncDataButton);
    historyLayout->addWidget(m_machineDataButton);
    historyLayout->addStretch(1);

    // Disp / Color: the four colours beside a preview of the log, then the two display options.
    auto* colourGroup = new QGroupBox(text(IDS_GROUP_DISP_COLOR), this);
    colourGroup->setObjectName(QStringLiteral("colourGroup"));
    auto* colourGrid = new QGridLayout;
    colourGrid->setHorizontalSpacing(10);
    const int labels[SlotCount] = {IDS_LBL_BACKGROUND_COLOR, IDS_LBL_TEXT_COLOR,
                                   IDS_LBL_CONTROL_CODE_COLOR, IDS_LBL_FLOW_CONTROL_COLOR};
    for (int slot = 0; slot < SlotCount; ++slot) {
        auto* label = new QLabel(text(labels[slot]), colourGroup);
        QPushButton* button = makeColourButton(Slot(slot));
        label->setBuddy(button);
        colourGrid->addWidget(label, slot, 0);
        colourGrid->addWidget(button, slot, 1);
    }

    m_preview = new LogPane(m_previewConfig, m_previewState, m_language, colourGroup);
    m_preview->setObjectName(QStringLiteral("colourPreview"));
    m_preview->setFocusPolicy(Qt::NoFocus);
    m_preview->setContextMenuPolicy(Qt::NoContextMenu);
    // Wide enough for the waiting line, tall enough for five rows and the waiting line under them.
    m_preview->setFixedSize(m_preview->charWidth() * 46, m_preview->lineHeight() * 7);
    m_preview->logPrint(1, format(WexLoadString(m_language, IDS_FMT_CODE_LINE),
                                  WexLoadString(m_language, IDS_LABEL_DC2),
                                  WexLoadString(m_language, IDS_LABEL_SEND)));
    const char* echo = WexLoadString(m_language, IDS_FMT_SEND_ECHO);
    m_preview->logPrint(0, echoLine(echo, 1, "%"));
    m_preview->logPrint(0, echoLine(echo, 2, "O1001(FLANGE OP10)"));
    m_preview->logPrint(0, echoLine(echo, 3, "N10G90G54G00X0Y0"));
    m_preview->logPrint(0, echoLine(echo, 4, "N20S1200M03"));
    m_preview->logShowFlow(format(WexLoadString(m_language, IDS_FMT_WAITING_LINE),
                                  WexLoadString(m_language, IDS_SIGNAL_XON),
                                  WexLoadString(m_language, IDS_WAITING_FOR_SIGNAL)));
    m_preview->blinkStep(); // shown from the start rather than after the first half-second

    m_echo = new QCheckBox(text(IDS_CHK_ECHO), colourGroup);
    m_echo->setObjectName(QStringLiteral("echoCheck"));
    m_echo->setProperty("controlId", EchoId);
    m_echo->setChecked(m_config.Echo != 0);
    m_gradient = new QCheckBox(text(IDS_CHK_GRADIENT), colourGroup);
    m_gradient->setObjectName(QStringLiteral("gradientCheck"));
    m_gradient->setProperty("controlId", GradientId);
    m_gradient->setChecked(m_config.BkShading != 0);
    connect(m_gradient, &QCheckBox::toggled, this, [this] { updatePreview(); });

    auto* colourRow = new QHBoxLayout;
    colourRow->addLayout(colourGrid);
    colourRow->addSpacing(8);
    colourRow->addWidget(m_preview, 0, Qt::AlignTop);
    auto* colourLayout = new QVBoxLayout(colourGroup);
    colourLayout->addLayout(colourRow);
    colourLayout->addSpacing(4);
    colourLayout->addWidget(m_echo);
    colourLayout->addWidget(m_gradient);

    // Options.
    auto* optionsGroup = new QGroupBox(text(IDS_GROUP_OPTIONS), this);
    optionsGroup->setObjectName(QStringLiteral("optionsGroup"));
    m_oneInstance = new QCheckBox(text(IDS_CHK_ONE_INSTANCE), optionsGroup);
    m_oneInstance->setObjectName(QStringLiteral("oneInstanceCheck"));
    m_oneInstance->setProperty("controlId", OneInstanceId);
    m_oneInstance->setChecked(m_config.OneInstance != 0);
    auto* optionsLayout = new QVBoxLayout(optionsGroup);
    optionsLayout->addWidget(m_oneInstance);

    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    QPushButton* ok = buttons->addButton(text(IDS_BTN_OK), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(text(IDS_BTN_CANCEL), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setProperty("controlId", 2);
    QPushButton* help = buttons->addButton(text(IDS_BTN_HELP), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &PropertyDialog::openHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(historyGroup);
    layout->addWidget(colourGroup);
    layout->addWidget(optionsGroup);
    layout->addSpacing(4);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

Colour PropertyDialog::workingColour(int controlId) const {
    switch (controlId) {
    case BackgroundColorId:
        return m_working[Background];
    case TextColorId:
        return m_working[Text];
    case ControlColorId:
        return m_working[ControlCode];
    case FlowColorId:
        return m_working[Flow];
    default:
        return 0;
    }
}

void PropertyDialog::chooseColour(Slot slot) {
    const std::optional<Colour> chosen =
        gui::chooseColour(m_services, this, m_working[slot], m_config.CustomColor);
    if (!chosen)
        return;
    m_working[slot] = *chosen & 0xFFFFFF;
    showSwatch(slot);
    updatePreview();
}

void PropertyDialog::clearHistory(int list) {
    UpdateHistory(m_config, list, 1, nullptr);
    QPushButton* button = list == 0 ? m_ncDataButton : m_machineDataButton;
    // The focus would otherwise fall to nowhere with the button gone grey.
    if (button->hasFocus())
        focusNextChild();
    button->setEnabled(false);
}

void PropertyDialog::showSwatch(Slot slot) {
    QPushButton* button = m_colourButtons[slot];
    button->setIcon(QIcon(swatch(m_working[slot], devicePixelRatioF())));
    button->setToolTip(hexName(m_working[slot]));
}

void PropertyDialog::updatePreview() {
    m_previewConfig.rgbBKColor = m_working[Background];
    m_previewConfig.rgbFGColor = readableTextColour(m_working[Background], m_working[Text]);
    m_previewConfig.rgbCtlColor = m_working[ControlCode];
    m_previewConfig.rgbFlowColor = m_working[Flow];
    m_previewConfig.BkShading = m_gradient != nullptr && m_gradient->isChecked() ? 1 : 0;
    m_preview->update();
}

void PropertyDialog::openHelp() {
    TellManualNotShown(this, windowTitle(), m_language, m_helpFilePath,
                       showHelp(m_services, m_helpFilePath, HelpTopicProperty));
}

void PropertyDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        openHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PropertyDialog::accept() {
    m_config.rgbBKColor = m_working[Background];
    m_config.rgbFGColor = readableTextColour(m_working[Background], m_working[Text]);
    m_config.rgbCtlColor = m_working[ControlCode];
    m_config.rgbFlowColor = m_working[Flow];
    m_config.Echo = m_echo->isChecked() ? 1 : 0;
    m_config.BkShading = m_gradient->isChecked() ? 1 : 0;
    m_config.OneInstance = m_oneInstance->isChecked() ? 1 : 0;
    QDialog::accept();
}

int ShowPropertyDialog(QWidget* owner, AppConfig& config, Language language,
                       const DialogServices& services, const std::string& helpFilePath,
                       const std::function<void()>& clearLog) {
    PropertyDialog dialog(config, language, services, helpFilePath, owner);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    if (clearLog)
        clearLog();
    return 1;
}

} // namespace corvane::gui
