#include "settings/MachinePropertySheet.h"

#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/AppState.h"
#include "common/HelpViewer.h"
#include "support/PathParts.h"
#include "support/StringIds.h"
#include "transfer/Port.h"
#include "transfer/SerialPortList.h"

namespace corvane::gui {

namespace {

enum PageIndex { CommunicationPage = 0, SendPage = 1, ReceivePage = 2, OptionsPage = 3 };

// Control ids of the "Communication device" page.
constexpr int DeviceId = 1243;
constexpr int PortNumberId = 2037;
constexpr int CodeId = 1238;
constexpr int BaudRateId = 1239;
constexpr int DataBitId = 1240;
constexpr int StopBitId = 1241;
constexpr int ParityId = 1242;
constexpr int Dc1Id = 2030;
constexpr int Dc3Id = 2031;
constexpr int Dc2Id = 2032;
constexpr int Dc4Id = 2033;

// Choice indexes the code rules set.
constexpr int DeviceSerialPort = 0;
constexpr int CodeIso = 0;
constexpr int CodeEia = 1;
constexpr int DataBits7 = 0;
constexpr int DataBits8 = 1;
constexpr int ParityNone = 0;
constexpr int ParityEven = 2;

// A choice list of the string table: "ISO,EIA,ASCII,," holds three choices; the first empty
// one closes the list.
QStringList choiceList(Language language, int id) {
    QStringList choices;
    for (const QString& choice : QString::fromUtf8(WexLoadString(language, id)).split(',')) {
        if (choice.isEmpty())
            break;
        choices << choice;
    }
    return choices;
}

// The longest prefix of `bytes` that fits `size` bytes with its terminator and does not end
// inside a UTF-8 character.
QByteArray cutToBuffer(QByteArray bytes, int size) {
    if (bytes.size() <= size - 1)
        return bytes;
    int n = size - 1;
    while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
        --n;
    bytes.truncate(n);
    return bytes;
}

QGroupBox* group(const QString& title, QLayout* layout) {
    auto* box = new QGroupBox(title);
    box->setLayout(layout);
    return box;
}

QFormLayout* formLayout() {
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    return form;
}

// A number field followed by its unit ("Msec").
QWidget* withUnit(QWidget* field, const QString& unit) {
    auto* holder = new QWidget;
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(field, 1);
    row->addWidget(new QLabel(unit));
    return holder;
}

} // namespace

MachinePropertySheet::MachinePropertySheet(MachineSheetCopy& copy, AppState& state,
                                           const MachineSheetHooks& hooks, int firstPage,
                                           QWidget* parent)
    : QDialog(parent), m_copy(copy), m_state(state), m_hooks(hooks), m_language(state.language) {
    setObjectName(QStringLiteral("dialog%1").arg(DialogId));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    // The title names the machine file, so two sheets opened one after another on different
    // machines cannot be mistaken for each other.
    const std::string name = WexSplitPath(m_state.config.McnFile, 4);
    QString title = text(IDS_DLG_MACHINE_PROPERTY);
    if (!name.empty()) {
        QString format = text(IDS_FMT_TITLE_TWO);
        format.replace(format.indexOf(QLatin1String("%s")), 2, QFile::decodeName(name.c_str()));
        format.replace(format.indexOf(QLatin1String("%s")), 2, title);
        title = format;
    }
    setWindowTitle(title);

    auto* outer = new QVBoxLayout(this);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("ctl%1").arg(TabId));
    m_pages[CommunicationPage] = buildCommunicationPage();
    m_pages[SendPage] = buildSendPage();
    m_pages[ReceivePage] = buildReceivePage();
    m_pages[OptionsPage] = buildOptionsPage();
    const int titles[PageCount] = {IDS_PAGE_COMMUNICATION, IDS_PAGE_SEND, IDS_PAGE_RECEIVE,
                                   IDS_PAGE_OPTIONS};
    for (int i = 0; i < PageCount; ++i) {
        m_pages[i]->setObjectName(QStringLiteral("page%1").arg(PageDialogIds[i]));
        m_tabs->addTab(m_pages[i], text(titles[i]));
    }
    outer->addWidget(m_tabs);
    buildButtons(outer);

    fillControls();
    updateEiaWarning();
    if (firstPage >= 0 && firstPage < PageCount)
        m_tabs->setCurrentIndex(firstPage);

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &MachinePropertySheet::onHelp);
}

QString MachinePropertySheet::text(int id) const {
    return QString::fromUtf8(WexLoadString(m_language, id));
}

QWidget* MachinePropertySheet::page(int index) const {
    return index >= 0 && index < PageCount ? m_pages[index] : nullptr;
}

int MachinePropertySheet::currentPage() const {
    return m_tabs->currentIndex();
}

QWidget* MachinePropertySheet::control(int pageIndex, int id) const {
    if (pageIndex < 0 || pageIndex >= PageCount)
        return nullptr;
    for (const Binding& binding : m_bindings[pageIndex]) {
        if (binding.controlId == id)
            return binding.widget;
    }
    return nullptr;
}

QComboBox* MachinePropertySheet::comboAt(int pageIndex, int id) const {
    return qobject_cast<QComboBox*>(control(pageIndex, id));
}

QWidget* MachinePropertySheet::bind(int pageIndex, Binding binding) {
    QWidget* widget = nullptr;
    switch (binding.kind) {
    case Kind::Choice: {
        auto* combo = new QComboBox;
        combo->addItems(choiceList(m_language, binding.choicesId));
        widget = combo;
        break;
    }
    case Kind::PortBox: {
        auto* combo = new QComboBox;
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        for (const std::string& port :
             m_hooks.listPorts ? m_hooks.listPorts() : std::vector<std::string>{})
            combo->addItem(QFile::decodeName(port.c_str()));
        combo->lineEdit()->setMaxLength(static_cast<int>(sizeof MachineLine::PortName) - 1);
        combo->setToolTip(text(IDS_TIP_PORT));
        // Device paths by-id are long; the box should not push the page wider than the screen.
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(14);
        m_portBox = combo;
        widget = combo;
        break;
    }
    case Kind::Number: {
        auto* spin = new QSpinBox;
        spin->setRange(binding.min, binding.max);
        spin->setAlignment(Qt::AlignRight);
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
        widget = spin;
        break;
    }
    case Kind::Check:
        widget = new QCheckBox;
        break;
    case Kind::Text: {
        auto* edit = new QLineEdit;
        edit->setMaxLength(binding.textSize - 1);
        widget = edit;
        break;
    }
    }
    widget->setObjectName(QStringLiteral("ctl%1").arg(binding.controlId));
    binding.widget = widget;
    m_bindings[pageIndex].push_back(binding);
    return widget;
}

QWidget* MachinePropertySheet::bindChoice(int page, int id, int32_t* value, int list) {
    return bind(page, {id, Kind::Choice, value, nullptr, 0, 0, 0, list});
}

QWidget* MachinePropertySheet::bindNumber(int page, int id, int32_t* value, int32_t min,
                                          int32_t max) {
    return bind(page, {id, Kind::Number, value, nullptr, 0, min, max, 0});
}

QWidget* MachinePropertySheet::bindText(int page, int id, char* value, int size) {
    return bind(page, {id, Kind::Text, nullptr, value, size});
}

QCheckBox* MachinePropertySheet::bindCheck(int page, int id, int32_t* value, int label) {
    auto* box = static_cast<QCheckBox*>(bind(page, {id, Kind::Check, value}));
    box->setText(text(label));
    return box;
}

QWidget* MachinePropertySheet::buildCommunicationPage() {
    MachineLine& line = m_copy.def.line;
    MachineConfig& config = m_copy.def.config;
    const int page = CommunicationPage;

    auto* basic = formLayout();
    basic->addRow(text(IDS_LBL_DEVICE),
                  bindChoice(page, DeviceId, &config.OutofFile, IDS_CHOICES_DEVICE));
#ifdef _WIN32
    const int portLabel = IDS_LBL_PORT_NUMBER;
#else
    const int portLabel = IDS_LBL_PORT_NAME; // the box takes a device path as well as a number
#endif
    basic->addRow(text(portLabel), bind(page, {PortNumberId, Kind::PortBox, &m_copy.PortNumberShown,
                                               nullptr, 0, FirstComNumber, LastComNumber, 0}));
    basic->addRow(text(IDS_LBL_CODE), bindChoice(page, CodeId, &line.OutCode, IDS_CHOICES_CODE));
    basic->addRow(text(IDS_LBL_BAUD_RATE),
                  bindChoice(page, BaudRateId, &line.BaudRate, IDS_CHOICES_BAUD_RATE));
    basic->addRow(text(IDS_LBL_DATA_BIT),
                  bindChoice(page, DataBitId, &line.DataLen, IDS_CHOICES_DATA_BITS));
    basic->addRow(text(IDS_LBL_STOP_BIT),
                  bindChoice(page, StopBitId, &line.Stop, IDS_CHOICES_STOP_BITS));
    basic->addRow(text(IDS_LBL_PARITY),
                  bindChoice(page, ParityId, &line.Parity, IDS_CHOICES_PARITY));

    auto* flow = new QVBoxLayout;
    m_xonXoffBox = bindCheck(page, 2034, &m_copy.FlowXonXoff, IDS_CHK_XON_XOFF);
    flow->addWidget(m_xonXoffBox);
    flow->addWidget(bindCheck(page, 2035, &m_copy.FlowDsrDtr, IDS_CHK_DSR_DTR));
    flow->addWidget(bindCheck(page, 2036, &m_copy.FlowRtsCts, IDS_CHK_RTS_CTS));

    auto* dc = formLayout();
    const struct {
        int id;
        int32_t* value;
        int label;
    } dcRows[] = {{Dc1Id, &line.PtrStart, IDS_LBL_DC1},
                  {Dc2Id, &line.PtpStart, IDS_LBL_DC2},
                  {Dc3Id, &line.PtrStop, IDS_LBL_DC3},
                  {Dc4Id, &line.PtpStop, IDS_LBL_DC4}};
    for (const auto& row : dcRows) {
        QWidget* field = bindNumber(page, row.id, row.value, 0, 255);
        field->setToolTip(text(IDS_TIP_DC_CODE));
        dc->addRow(text(row.label), field);
    }

    // EIA's digit 3 is the DC3 code on the wire: with XON/XOFF the line would stop inside the
    // data. Allowed (a control may filter it), but never without a word.
    m_eiaWarning = new QLabel(text(IDS_WARN_EIA_XON_XOFF));
    m_eiaWarning->setObjectName(QStringLiteral("eiaWarning"));
    m_eiaWarning->setWordWrap(true);
    m_eiaWarning->setVisible(false);
    QFont warningFont = m_eiaWarning->font();
    warningFont.setBold(true);
    m_eiaWarning->setFont(warningFont);
    flow->addWidget(m_eiaWarning);
    connect(m_xonXoffBox, &QCheckBox::toggled, this, &MachinePropertySheet::updateEiaWarning);

    auto* right = new QVBoxLayout;
    right->addWidget(group(text(IDS_GROUP_FLOW_CONTROL), flow));
    right->addWidget(group(text(IDS_GROUP_DC_CODE), dc));
    right->addStretch(1);

    auto* widget = new QWidget;
    auto* columns = new QHBoxLayout(widget);
    auto* left = new QVBoxLayout;
    left->addWidget(group(text(IDS_GROUP_BASIC_SETTINGS), basic));
    left->addStretch(1);
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);

    connect(comboAt(page, DeviceId), &QComboBox::currentIndexChanged, this,
            &MachinePropertySheet::onDeviceChanged);
    connect(comboAt(page, CodeId), &QComboBox::currentIndexChanged, this,
            &MachinePropertySheet::onCodeChanged);
    return widget;
}

void MachinePropertySheet::addSkipAndUserCodes(QGridLayout* grid, QFormLayout* skip,
                                               QFormLayout* user) const {
    grid->addWidget(group(text(IDS_GROUP_SKIP_DATA), skip), 1, 0, 1, 2);
    grid->addWidget(group(text(IDS_GROUP_USER_CODE), user), 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
}

QWidget* MachinePropertySheet::buildSendPage() {
    MachineConfig& config = m_copy.def.config;
    const int page = SendPage;

    auto* parameter = formLayout();
    parameter->addRow(text(IDS_LBL_LINE_FEED),
                      bindChoice(page, 1239, &config.LfCode, IDS_CHOICES_LINE_FEED));
    parameter->addRow(text(IDS_LBL_PERCENT_ADDITION),
                      bindChoice(page, 1240, &config.ErCode, IDS_CHOICES_PERCENT_ADDITION));
    parameter->addRow(text(IDS_LBL_TV_CHECK),
                      bindChoice(page, 1241, &config.TVCheck, IDS_CHOICES_TV_CHECK));
    parameter->addRow(text(IDS_LBL_N_BASE), bindNumber(page, 2111, &config.NnoBase, 0, 10000000));
    parameter->addRow(text(IDS_LBL_N_INCREMENTAL),
                      bindNumber(page, 2112, &config.NnoIncr, 0, 100000));

    auto* option = new QVBoxLayout;
    option->addWidget(bindCheck(page, 2122, &config.Comment, IDS_CHK_OUTPUT_COMMENT));
    option->addWidget(bindCheck(page, 2123, &config.HeadLf, IDS_CHK_HEAD_LF));
    option->addWidget(bindCheck(page, 2124, &config.SendSpace, IDS_CHK_OUTPUT_BLANK_LINE));
    option->addWidget(bindCheck(page, 2125, &config.Xoff, IDS_CHK_WAIT_FOR_DC1));
    option->addWidget(bindCheck(page, 2126, &config.DeleteErCode, IDS_CHK_DELETE_PERCENT));
    option->addWidget(bindCheck(page, 2128, &config.WordBreak, IDS_CHK_WORD_BREAK));
    auto* wait = formLayout();
    wait->addRow(text(IDS_LBL_WAIT),
                 withUnit(bindNumber(page, 2127, &config.SendDelay, 0, 1000), text(IDS_LBL_MSEC)));
    option->addLayout(wait);
    option->addStretch(1);

    // Element order of the counts: 0 before, 1 after, 2 middle; the rows read before, middle,
    // after.
    auto counts = [&](int firstId, int32_t* values, int firstLabel) {
        auto* form = formLayout();
        form->addRow(text(firstLabel), bindNumber(page, firstId, &values[0], 0, 1000));
        form->addRow(text(firstLabel + 1), bindNumber(page, firstId + 2, &values[2], 0, 1000));
        form->addRow(text(firstLabel + 2), bindNumber(page, firstId + 1, &values[1], 0, 1000));
        return form;
    };
    static_assert(IDS_LBL_MIDDLE == IDS_LBL_BEFORE + 1 && IDS_LBL_AFTER == IDS_LBL_BEFORE + 2);
    static_assert(IDS_LBL_SPACE_AFTER == IDS_LBL_SPACE_BEFORE + 2);
    auto* nullAndSpace = new QHBoxLayout;
    nullAndSpace->addWidget(
        group(text(IDS_GROUP_NULL), counts(2113, config.PtpNull, IDS_LBL_BEFORE)));
    nullAndSpace->addWidget(
        group(text(IDS_GROUP_SPACE), counts(2116, config.PtpSpace, IDS_LBL_SPACE_BEFORE)));

    auto* skip = formLayout();
    skip->addRow(text(IDS_LBL_SKIP_FUNCTION),
                 bindText(page, 2129, config.SendSkipCode, sizeof config.SendSkipCode));
    skip->addRow(text(IDS_LBL_SKIP_LINE),
                 bindText(page, 2130, config.SendSkipLine, sizeof config.SendSkipLine));

    auto* user = formLayout();
    user->addRow(text(IDS_LBL_USER_BEFORE),
                 bindText(page, 2119, config.PtpUser0, sizeof config.PtpUser0));
    user->addRow(text(IDS_LBL_USER_MIDDLE),
                 bindText(page, 2120, config.PtpUser2, sizeof config.PtpUser2));
    user->addRow(text(IDS_LBL_USER_AFTER),
                 bindText(page, 2121, config.PtpUser1, sizeof config.PtpUser1));

    auto* widget = new QWidget;
    auto* grid = new QGridLayout(widget);
    auto* left = new QVBoxLayout;
    left->addWidget(group(text(IDS_GROUP_PARAMETER), parameter));
    left->addLayout(nullAndSpace);
    auto* right = new QVBoxLayout;
    right->addWidget(group(text(IDS_GROUP_OPTION), option), 1);
    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    addSkipAndUserCodes(grid, skip, user);
    return widget;
}

QWidget* MachinePropertySheet::buildReceivePage() {
    MachineConfig& config = m_copy.def.config;
    const int page = ReceivePage;

    auto* parameter = formLayout();
    parameter->addRow(text(IDS_LBL_START_CHECK),
                      bindChoice(page, 1242, &config.PtrBegin, IDS_CHOICES_START_CHECK));
    parameter->addRow(text(IDS_LBL_END_CHECK),
                      bindChoice(page, 1241, &config.PtrEof, IDS_CHOICES_END_CHECK));

    auto* option = formLayout();
    option->addRow(text(IDS_LBL_SPACE_CHARACTER),
                   bindChoice(page, 1240, &config.RecvSpace, IDS_CHOICES_SPACE_CHARACTER));
    option->addRow(
        text(IDS_LBL_TIMEOUT),
        withUnit(bind(page, {1251, Kind::Number, &config.PtrTimeOut, nullptr, 0, 0, 100000, 0}),
                 text(IDS_LBL_MSEC)));

    auto* skip = formLayout();
    skip->addRow(text(IDS_LBL_SKIP_FUNCTION),
                 bindText(page, 1249, config.ReceiveSkipCode, sizeof config.ReceiveSkipCode));
    skip->addRow(text(IDS_LBL_SKIP_LINE),
                 bindText(page, 1250, config.ReceiveSkipLine, sizeof config.ReceiveSkipLine));

    auto* user = formLayout();
    user->addRow(text(IDS_LBL_BEFORE),
                 bindText(page, 2207, config.PtrUser0, sizeof config.PtrUser0));
    user->addRow(text(IDS_LBL_AFTER),
                 bindText(page, 2208, config.PtrUser1, sizeof config.PtrUser1));

    auto* widget = new QWidget;
    auto* grid = new QGridLayout(widget);
    grid->addWidget(group(text(IDS_GROUP_PARAMETER), parameter), 0, 0);
    grid->addWidget(group(text(IDS_GROUP_OPTION), option), 0, 1);
    addSkipAndUserCodes(grid, skip, user);
    return widget;
}

QWidget* MachinePropertySheet::buildOptionsPage() {
    MachineConfig& config = m_copy.def.config;
    auto* file = formLayout();
    QWidget* extension = bind(OptionsPage, {1242, Kind::Text, nullptr, config.DefExt,
                                            static_cast<int>(sizeof config.DefExt)});
    // An extension is a few letters; a field across the page would suggest a path.
    extension->setMaximumWidth(extension->fontMetrics().averageCharWidth() * 24);
    file->addRow(text(IDS_LBL_NC_EXTENSION), extension);
    auto* widget = new QWidget;
    auto* column = new QVBoxLayout(widget);
    column->addWidget(group(text(IDS_GROUP_FILE), file));
    column->addStretch(1);
    return widget;
}

void MachinePropertySheet::buildButtons(QLayout* outer) {
    auto button = [&](int id, int label) {
        auto* pushButton = new QPushButton(text(label));
        pushButton->setObjectName(QStringLiteral("ctl%1").arg(id));
        pushButton->setAutoDefault(false);
        return pushButton;
    };
    QPushButton* open = button(OpenId, IDS_BTN_OPEN);
    QPushButton* save = button(SaveId, IDS_BTN_SAVE);
    QPushButton* ok = button(OkId, IDS_BTN_OK);
    QPushButton* cancel = button(CancelId, IDS_BTN_CANCEL);
    m_helpButton = button(HelpId, IDS_BTN_HELP);
    ok->setDefault(true);
    // The manual may not be installed (a bare build, a stripped package).
    m_helpButton->setEnabled(WexPathExists(1, m_state.helpFilePath.c_str()) != 0);

    auto* row = new QHBoxLayout;
    row->addWidget(open);
    row->addWidget(save);
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addWidget(m_helpButton);
    static_cast<QBoxLayout*>(outer)->addLayout(row);

    connect(open, &QPushButton::clicked, this, &MachinePropertySheet::onOpen);
    connect(save, &QPushButton::clicked, this, &MachinePropertySheet::onSave);
    connect(ok, &QPushButton::clicked, this, &MachinePropertySheet::onOk);
    connect(cancel, &QPushButton::clicked, this, &MachinePropertySheet::reject);
    connect(m_helpButton, &QPushButton::clicked, this, &MachinePropertySheet::onHelp);
}

void MachinePropertySheet::fillControls() {
    m_filling = true;
    for (auto& bindings : m_bindings) {
        for (const Binding& binding : bindings) {
            switch (binding.kind) {
            case Kind::Choice: {
                auto* combo = static_cast<QComboBox*>(binding.widget);
                // A value outside the list (a hand-edited file) shows no choice; it is stored
                // back unchanged unless the user picks one.
                const int value = *binding.number;
                combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
                break;
            }
            case Kind::PortBox:
                break; // fillPortBox: the box shows the name or the number
            case Kind::Number:
                static_cast<QSpinBox*>(binding.widget)->setValue(*binding.number);
                break;
            case Kind::Check:
                static_cast<QCheckBox*>(binding.widget)->setChecked(*binding.number != 0);
                break;
            case Kind::Text: {
                const size_t length = strnlen(binding.text, static_cast<size_t>(binding.textSize));
                static_cast<QLineEdit*>(binding.widget)
                    ->setText(QString::fromUtf8(binding.text, static_cast<qsizetype>(length)));
                break;
            }
            }
        }
    }
    fillPortBox();
    m_filling = false;

    // What the page shows when it opens: port controls for a serial port only, and the
    // framing the code requires.
    enablePortControls(serialDeviceShown());
    if (serialDeviceShown())
        applyCodeRules(false);
}

void MachinePropertySheet::fillPortBox() {
    MachineLine shown = m_copy.def.line;
    shown.PortNo = m_copy.PortNumberShown - 1;
    m_portBox->setCurrentIndex(-1);
    m_portBox->setEditText(QFile::decodeName(PortText(shown).c_str()));
}

bool MachinePropertySheet::storeControls() {
    bool portValid = true;
    for (auto& bindings : m_bindings) {
        for (const Binding& binding : bindings) {
            switch (binding.kind) {
            case Kind::Choice: {
                const int index = static_cast<QComboBox*>(binding.widget)->currentIndex();
                if (index >= 0)
                    *binding.number = index;
                break;
            }
            case Kind::PortBox: {
                PortChoice choice;
                const QByteArray typed = QFile::encodeName(m_portBox->currentText());
                if (!ParsePortText(std::string_view(typed.constData(), typed.size()), choice)) {
                    portValid = false;
                    break;
                }
                if (choice.isPath) {
                    ApplyPortChoice(choice, m_copy.def.line);
                } else {
                    *binding.number = choice.comNumber;
                    std::memset(m_copy.def.line.PortName, 0, sizeof m_copy.def.line.PortName);
                }
                break;
            }
            case Kind::Number:
                *binding.number = static_cast<QSpinBox*>(binding.widget)->value();
                break;
            case Kind::Check:
                *binding.number = static_cast<QCheckBox*>(binding.widget)->isChecked() ? 1 : 0;
                break;
            case Kind::Text: {
                const QByteArray bytes = cutToBuffer(
                    static_cast<QLineEdit*>(binding.widget)->text().toUtf8(), binding.textSize);
                std::memset(binding.text, 0, static_cast<size_t>(binding.textSize));
                std::memcpy(binding.text, bytes.constData(), static_cast<size_t>(bytes.size()));
                break;
            }
            }
        }
    }
    return portValid;
}

bool MachinePropertySheet::serialDeviceShown() const {
    return comboAt(CommunicationPage, DeviceId)->currentIndex() == DeviceSerialPort;
}

void MachinePropertySheet::onDeviceChanged() {
    if (m_filling)
        return;
    enablePortControls(serialDeviceShown());
    applyCodeRules(false);
    updateEiaWarning();
}

void MachinePropertySheet::onCodeChanged() {
    if (m_filling)
        return;
    applyCodeRules(true);
    updateEiaWarning();
}

void MachinePropertySheet::updateEiaWarning() {
    constexpr int Eia = 1;
    const QComboBox* code = comboAt(CommunicationPage, CodeId);
    m_eiaWarning->setVisible(serialDeviceShown() && code != nullptr &&
                             code->currentIndex() == Eia && m_xonXoffBox->isChecked());
}

void MachinePropertySheet::enablePortControls(bool enable) {
    // Code, Device and the DC codes matter for a device file too: the file receives the
    // converted codes.
    for (const Binding& binding : m_bindings[CommunicationPage]) {
        switch (binding.controlId) {
        case CodeId:
        case DeviceId:
        case Dc1Id:
        case Dc2Id:
        case Dc3Id:
        case Dc4Id:
            break;
        default:
            binding.widget->setEnabled(enable);
            break;
        }
    }
}

void MachinePropertySheet::applyCodeRules(bool codeChosen) {
    if (!serialDeviceShown())
        return;
    QComboBox* dataBits = comboAt(CommunicationPage, DataBitId);
    QComboBox* parity = comboAt(CommunicationPage, ParityId);
    switch (comboAt(CommunicationPage, CodeId)->currentIndex()) {
    case CodeIso:
        // ISO tape: seven data bits with even parity is the code itself.
        dataBits->setCurrentIndex(DataBits7);
        parity->setCurrentIndex(ParityEven);
        dataBits->setEnabled(false);
        parity->setEnabled(false);
        break;
    case CodeEia:
        // EIA tape carries its own parity in the eighth bit.
        dataBits->setCurrentIndex(DataBits8);
        parity->setCurrentIndex(ParityNone);
        dataBits->setEnabled(false);
        parity->setEnabled(false);
        break;
    default:
        // ASCII leaves the framing to the machine. A machine file that already says how keeps
        // its setting when the sheet opens; choosing ASCII starts from 8 bit, no parity.
        if (codeChosen) {
            dataBits->setCurrentIndex(DataBits8);
            parity->setCurrentIndex(ParityNone);
        }
        dataBits->setEnabled(true);
        parity->setEnabled(true);
        break;
    }
}

void MachinePropertySheet::reportBadPortText() {
    m_tabs->setCurrentIndex(CommunicationPage);
    m_hooks.tell(this, text(IDS_DLG_MACHINE_PROPERTY), text(IDS_BAD_PORT_TEXT));
    m_portBox->setFocus();
}

bool MachinePropertySheet::portCheckPasses() {
    MachineSheetCopy tested = m_copy;
    FinishSheetCopy(tested);
    OpenedLine opened = m_hooks.openPort(tested.def);
    if (opened.line) {
        opened.line->close();
        return true;
    }

    QString question;
    if (tested.def.line.PortName[0] == '\0') {
        question = text(IDS_OPEN_PORT_QUESTION);
        question.replace(QLatin1String("%d"), QString::number(m_copy.PortNumberShown));
    } else {
        question = text(IDS_OPEN_DEVICE_QUESTION);
        question.replace(QLatin1String("%s"), QFile::decodeName(tested.def.line.PortName));
    }
    // Why it did not open, in the words a transfer would use.
    QString reason;
    const OpenError& error = opened.error;
    if (error.message.textId != 0) {
        std::vector<std::string> args;
        for (const MessageArg& arg : error.message.args)
            args.push_back(arg.textId != 0 ? text(arg.textId).toStdString() : arg.text);
        reason = QString::fromStdString(
            FormatLineText(text(error.message.textId).toUtf8().constData(), args));
    } else if (const int id = OpenFailureTextId(error.kind)) {
        reason = text(id);
        if (error.kind == OpenFailure::PermissionDenied && !error.text.empty())
            reason = QStringLiteral("%1 (%2)").arg(reason, QString::fromStdString(error.text));
    } else {
        reason = QString::fromLocal8Bit(error.text.c_str());
    }
    return m_hooks.ask(this, text(IDS_OPEN_ERROR_CAPTION), question, reason);
}

void MachinePropertySheet::onOk() {
    const bool portValid = storeControls();
    if (m_copy.def.config.OutofFile == DeviceSerialPort) {
        if (!portValid) {
            reportBadPortText();
            return;
        }
        if (!portCheckPasses())
            return;
    }
    done(OkId);
}

QString MachinePropertySheet::chooseMachineFile(bool open) {
    FileDialogRequest request;
    request.open = open;
    request.title = text(IDS_TITLE_SELECT_MACHINE_FILE);
    const std::string folder = WexSplitPath(m_state.config.McnFile, 3);
    request.folder = QFile::decodeName(folder.c_str());
    // Machine files from other systems come in either case.
    auto label = [&](int id) {
        const QString full = text(id);
        const int paren = full.lastIndexOf(QLatin1String(" ("));
        return paren < 0 ? full : full.left(paren);
    };
    request.nameFilters << label(IDS_FILTER_MACHINE_FILES) + QStringLiteral(" (*.MDF *.mdf)")
                        << label(IDS_FILTER_ALL_FILES) + QStringLiteral(" (*)");
    request.defaultSuffix = QStringLiteral("MDF");

    const QStringList chosen =
        m_hooks.fileDialog ? m_hooks.fileDialog(this, request) : QStringList{};
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return {};
    const QString path = chosen.front();
    if (QFile::encodeName(path).size() >= static_cast<qsizetype>(sizeof m_state.config.McnFile)) {
        m_hooks.tell(this, text(IDS_DLG_MACHINE_PROPERTY),
                     text(IDS_SHEET_PATH_TOO_LONG) + QStringLiteral("\n\n") + path);
        return {};
    }
    return path;
}

void MachinePropertySheet::onOpen() {
    const QString path = chooseMachineFile(true);
    if (path.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(path);
    // A file that cannot be read would leave nothing but defaults behind once the sheet
    // reloads: say so now, while the current machine is still intact.
    MachineDef probe;
    std::string error;
    if (MachineDefReadFile(name.constData(), probe.line, probe.config, &error) == 0) {
        m_hooks.tell(this, text(IDS_DLG_MACHINE_PROPERTY),
                     text(IDS_SHEET_READ_FAILED) + QStringLiteral("\n\n") + path +
                         QStringLiteral("\n") + QString::fromLocal8Bit(error.c_str()));
        return;
    }
    std::memset(m_state.config.McnFile, 0, sizeof m_state.config.McnFile);
    std::memcpy(m_state.config.McnFile, name.constData(), static_cast<size_t>(name.size()));
    done(OpenId);
}

void MachinePropertySheet::onSave() {
    // Refuse before the file dialog, so the user does not name a file for settings that cannot
    // be stored.
    if (!storeControls() && m_copy.def.config.OutofFile == DeviceSerialPort) {
        reportBadPortText();
        return;
    }
    const QString path = chooseMachineFile(false);
    if (path.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(path);
    std::memset(m_state.config.McnFile, 0, sizeof m_state.config.McnFile);
    std::memcpy(m_state.config.McnFile, name.constData(), static_cast<size_t>(name.size()));
    done(SaveId);
}

void MachinePropertySheet::onHelp() {
    if (!m_helpButton->isEnabled())
        return;
    TellManualNotShown(
        this, windowTitle(), m_state.language, m_state.helpFilePath,
        WexShowHelp(m_state.helpFilePath, HelpTopic, HelpTopicCommunication + currentPage()));
}

void MachinePropertySheet::reject() {
    done(CancelId);
}

} // namespace corvane::gui
