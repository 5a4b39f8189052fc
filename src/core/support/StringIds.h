#pragma once
// Ids of the string table (StringTable.h). Every user-visible text is fetched by one of these
// names, never by a bare number, so a text can be found from its use and back.
//
// Ranges:
//   48 - 53          product strings (name, notice, maker, version, mail, home page)
//   3000 - 3015,
//   40033, 40040     menu hints: the id of a menu command is the id of the text the status bar
//                    shows while that item is highlighted
//   4001 - 4141      the historical ids of tool-bar labels, tooltips, titles, transfer labels,
//                    messages and the choice lists; numbers kept so old translations still fit
//   4500 - 4599      transfer texts without a historical id (signals, closing messages)
//   4600 - 4699      formats of log lines, status parts, titles and list columns
//   6000 - 6099      menu labels (main menu and the log pane's context menu)
//   7000 - 7899      dialog labels: 7000 machine property sheet, 7100 property dialog,
//                    7200 version information, 7300 send file list
//   7900 - 7999      buttons shared by every dialog
//   8000 - 8999      texts of this platform's port and device layer (open for additions)
//
// A text that is a printf format says so in its comment; its placeholders are part of its
// contract and every translation keeps them in the same order.

namespace corvane {

// Product strings; the OEM file beside the executable may override 49, 50, 52 and 53.
constexpr int IDS_PRODUCT_NAME = 48;
constexpr int IDS_PRODUCT_NOTICE = 49;
constexpr int IDS_PRODUCT_MAKER = 50;
constexpr int IDS_PRODUCT_VERSION = 51;
constexpr int IDS_PRODUCT_MAIL = 52;      // empty: the about box hides the mail line
constexpr int IDS_PRODUCT_HOME_PAGE = 53; // empty: the about box hides the home page line

// Menu hints (id = command id).
constexpr int IDS_HINT_SEND = 3000;
constexpr int IDS_HINT_SEND_LIST = 3001;
constexpr int IDS_HINT_RECEIVE = 3002;
constexpr int IDS_HINT_EXIT = 3003;
constexpr int IDS_HINT_TOOL_BAR = 3004;
constexpr int IDS_HINT_STATUS_BAR = 3005;
constexpr int IDS_HINT_PROPERTY = 3009;
constexpr int IDS_HINT_CONTENTS = 3010;
constexpr int IDS_HINT_INTERRUPT = 3013;
constexpr int IDS_HINT_OPEN_MACHINE = 3014;
constexpr int IDS_HINT_MACHINE_PROPERTY = 3015;
constexpr int IDS_HINT_MENU_BAR = 40033;
constexpr int IDS_HINT_VERSION_INFO = 40040;

// Tool-bar tooltips.
constexpr int IDS_TIP_SEND = 4001;
constexpr int IDS_TIP_SEND_LIST = 4002;
constexpr int IDS_TIP_RECEIVE = 4003;
constexpr int IDS_TIP_PROPERTY = 4007;
constexpr int IDS_TIP_HELP = 4008;
constexpr int IDS_TIP_INTERRUPT = 4009;
constexpr int IDS_TIP_MACHINE = 4052;

// Tool-bar labels.
constexpr int IDS_BUTTON_SEND = 4010;
constexpr int IDS_BUTTON_SEND_LIST = 4011;
constexpr int IDS_BUTTON_RECEIVE = 4012;
constexpr int IDS_BUTTON_PROPERTY = 4016;
constexpr int IDS_BUTTON_HELP = 4017;
constexpr int IDS_BUTTON_CANCEL = 4018;
constexpr int IDS_BUTTON_MACHINE = 4051;

// File selection.
constexpr int IDS_TITLE_SELECT_RECEIVE_FILE = 4019;
constexpr int IDS_TITLE_SELECT_SEND_FILE = 4020;
constexpr int IDS_FILTER_NC_FILE = 4021;
constexpr int IDS_TITLE_SELECT_DEVICE_FILE = 4036;
constexpr int IDS_TITLE_SELECT_MACHINE_FILE = 4043;

// Send file list columns.
constexpr int IDS_COLUMN_NAME = 4022;
constexpr int IDS_COLUMN_DATE = 4023;
constexpr int IDS_COLUMN_TIME = 4024;
constexpr int IDS_COLUMN_SIZE = 4025;

// Frame title during a transfer.
constexpr int IDS_TITLE_RECEIVING = 4034;
constexpr int IDS_TITLE_SENDING = 4035;

// Closing lines of a send.
constexpr int IDS_CAN_NOT_OPEN_FILE = 4038;
constexpr int IDS_INTERRUPTED_SEND = 4039;
constexpr int IDS_COMPLETED_SEND = 4040;

// Last item of both history popups.
constexpr int IDS_MENU_NEW_OPEN = 4050;

// Port check of the machine property sheet.
constexpr int IDS_OPEN_ERROR_CAPTION = 4100;
constexpr int IDS_OPEN_PORT_QUESTION = 4101; // format: %d port number

// Labels of the code lines "     : [label] Send..." and of status part 0.
constexpr int IDS_LABEL_SEND = 4103;
constexpr int IDS_LABEL_DC2 = 4105;
constexpr int IDS_LABEL_DC4 = 4107;
constexpr int IDS_LABEL_NULL = 4108;
constexpr int IDS_LABEL_SPACE = 4109;
constexpr int IDS_LABEL_LINE_FEED_CODE = 4110;
constexpr int IDS_LABEL_USER_CODE = 4111;

// Choice lists: comma-separated, closed by ",,"; the stored value is the index of the choice.
constexpr int IDS_CHOICES_DEVICE = 4130;           // OutofFile
constexpr int IDS_CHOICES_CODE = 4131;             // OutCode
constexpr int IDS_CHOICES_BAUD_RATE = 4132;        // BaudRate
constexpr int IDS_CHOICES_DATA_BITS = 4133;        // DataLen
constexpr int IDS_CHOICES_STOP_BITS = 4134;        // Stop
constexpr int IDS_CHOICES_PARITY = 4135;           // Parity
constexpr int IDS_CHOICES_LINE_FEED = 4136;        // LfCode
constexpr int IDS_CHOICES_PERCENT_ADDITION = 4137; // ErCode
constexpr int IDS_CHOICES_TV_CHECK = 4138;         // TVCheck
constexpr int IDS_CHOICES_START_CHECK = 4139;      // PtrBegin
constexpr int IDS_CHOICES_END_CHECK = 4140;        // PtrEof
constexpr int IDS_CHOICES_SPACE_CHARACTER = 4141;  // RecvSpace
constexpr int IDS_CHOICES_FIRST = IDS_CHOICES_DEVICE;
constexpr int IDS_CHOICES_LAST = IDS_CHOICES_SPACE_CHARACTER;

// Transfer texts without a historical id.
constexpr int IDS_LABEL_DC1 = 4500;             // receive start code
constexpr int IDS_LABEL_DC3 = 4501;             // receive end code
constexpr int IDS_FAILED_TO_OPEN_DEVICE = 4510; // followed by "\n\n" and the device or path
constexpr int IDS_WAITING_FOR_SIGNAL = 4511;
constexpr int IDS_SIGNAL_CTS = 4512;  // waiting line and status part 1
constexpr int IDS_SIGNAL_DSR = 4513;  // waiting line and status part 1
constexpr int IDS_SIGNAL_XON = 4514;  // waiting line while XOFF holds the line
constexpr int IDS_STATUS_XOFF = 4515; // status part 1 while XOFF holds the line
constexpr int IDS_INTERRUPTED_RECEIVE = 4520;
constexpr int IDS_RECEIVE_TIMEOUT = 4521;
constexpr int IDS_COMPLETED_RECEIVE = 4522;

// Formats (printf).
constexpr int IDS_FMT_FILE_HEADER = 4600;   // "==== [ %s ] ====" path
constexpr int IDS_FMT_CLOSING = 4601;       // "==== %s ====" closing text
constexpr int IDS_FMT_CLOSING_PATH = 4602;  // "==== %s [%s] ====" closing text, path
constexpr int IDS_FMT_CLOSING_BYTES = 4603; // "==== %s [%ld] byte ====" closing text, count
constexpr int IDS_FMT_FILE_PATH = 4604;     // "FILE [ %s ]" path
constexpr int IDS_FMT_CODE_LINE = 4605;     // "     : [%s] %s..." label, action
constexpr int IDS_FMT_PERCENT_LINE = 4606;  // "     : [%%] %s..." action
constexpr int IDS_FMT_SEND_ECHO = 4607;     // "%05d: %s%s" block count, prefix, block
constexpr int IDS_FMT_RECEIVE_ECHO = 4608;  // "%05d: %s" line count, line
constexpr int IDS_FMT_WAITING_LINE = 4609;  // "-----> [%s] %s..." signal, waiting text
constexpr int IDS_FMT_REMAINING_HMS = 4610; // "%2dH%2dM%2dS" hours, minutes, seconds
constexpr int IDS_FMT_REMAINING_MS = 4611;  // "%2dM%2dS" minutes, seconds
constexpr int IDS_FMT_REMAINING_S = 4612;   // "%2dS" seconds
constexpr int IDS_FMT_COUNT = 4613;         // "%d" block or line count
constexpr int IDS_FMT_TITLE_THREE = 4620;   // "%s - %s - %s" file, machine, product
constexpr int IDS_FMT_TITLE_TWO = 4621;     // "%s - %s" file, product (also sheet title)
constexpr int IDS_FMT_TITLE_IDLE = 4622;    // "%s %s  %s %s" name, version, notice, maker
constexpr int IDS_FMT_HISTORY_ITEM = 4623;  // "&%d %s\t%s" number, name, folder
constexpr int IDS_FMT_LIST_DATE = 4630;     // "%02d/%02d/%02d" year, month, day
constexpr int IDS_FMT_LIST_TIME = 4631;     // "%s %02d:%02d" AM/PM, hour, minute
constexpr int IDS_TIME_AM = 4632;
constexpr int IDS_TIME_PM = 4633;
constexpr int IDS_FILTER_ALL_FILES = 4634;     // "All files (*.*)"
constexpr int IDS_FILTER_MACHINE_FILES = 4635; // "Machine files (*.MDF)"
constexpr int IDS_FMT_FILTER_NC = 4636;        // "%s (*.%s)" description, extension
// The question before a send that a file manager started, the warning of the machine sheet
// for EIA with XON/XOFF, the File menu's history submenus.
constexpr int IDS_FMT_ASK_SEND = 4640; // "%s" the files, one a line
constexpr int IDS_WARN_EIA_XON_XOFF = 4641;
constexpr int IDS_MENU_RECENT_NC_FILES = 4642;
constexpr int IDS_MENU_RECENT_MACHINES = 4643;

// Menu labels. The main menu's popups, then the commands (the context menu of the log pane
// reuses the command labels).
constexpr int IDS_MENU_FILE = 6000;
constexpr int IDS_MENU_VIEW = 6001;
constexpr int IDS_MENU_SETTINGS = 6002;
constexpr int IDS_MENU_HELP = 6003;
constexpr int IDS_MENU_SEND = 6010;             // "&Send...\tCtrl+O"
constexpr int IDS_MENU_SEND_LIST = 6011;        // "Send &list..."
constexpr int IDS_MENU_RECEIVE = 6012;          // "&Receive..."
constexpr int IDS_MENU_EXIT = 6013;             // "&Exit"
constexpr int IDS_MENU_TOOL_BAR = 6014;         // "&Tool bar\tShift+F2"
constexpr int IDS_MENU_STATUS_BAR = 6015;       // "&Status bar\tShift+F3"
constexpr int IDS_MENU_MENU_BAR = 6016;         // "&Menu bar\tShift+F1"
constexpr int IDS_MENU_PROPERTY = 6017;         // "&Property..."
constexpr int IDS_MENU_CONTENTS = 6018;         // "&Contents\tF1"
constexpr int IDS_MENU_MACHINE_PROPERTY = 6019; // "Property of &machine..."
constexpr int IDS_MENU_VERSION_INFO = 6020;     // "&Version Information..."
constexpr int IDS_MENU_INTERRUPT = 6021; // no historical menu item; for a front end that wants one
constexpr int IDS_MENU_RESTART = 6022;   // "Res&tart from..."

// Machine property sheet: the sheet and its pages.
constexpr int IDS_DLG_MACHINE_PROPERTY = 7000;
constexpr int IDS_PAGE_COMMUNICATION = 7001;
constexpr int IDS_PAGE_SEND = 7002;
constexpr int IDS_PAGE_RECEIVE = 7003;
constexpr int IDS_PAGE_OPTIONS = 7004;
constexpr int IDS_BTN_OPEN = 7005;
constexpr int IDS_BTN_SAVE = 7006;
constexpr int IDS_SHEET_WRITE_FAILED = 7007;   // followed by "\n\n", the path and the reason
constexpr int IDS_SHEET_READ_FAILED = 7008;    // followed by "\n\n", the path and the reason
constexpr int IDS_OPEN_DEVICE_QUESTION = 7009; // format: %s device path (4101 for a number)
// Page "Communication device".
constexpr int IDS_GROUP_BASIC_SETTINGS = 7010;
constexpr int IDS_GROUP_FLOW_CONTROL = 7011;
constexpr int IDS_GROUP_DC_CODE = 7012;
constexpr int IDS_LBL_DEVICE = 7013;
constexpr int IDS_LBL_PORT_NUMBER = 7014;
constexpr int IDS_LBL_CODE = 7015;
constexpr int IDS_LBL_BAUD_RATE = 7016;
constexpr int IDS_LBL_DATA_BIT = 7017;
constexpr int IDS_LBL_STOP_BIT = 7018;
constexpr int IDS_LBL_PARITY = 7019;
constexpr int IDS_LBL_DC1 = 7020;
constexpr int IDS_LBL_DC2 = 7021;
constexpr int IDS_LBL_DC3 = 7022;
constexpr int IDS_LBL_DC4 = 7023;
constexpr int IDS_CHK_XON_XOFF = 7024;
constexpr int IDS_CHK_DSR_DTR = 7025;
constexpr int IDS_CHK_RTS_CTS = 7026;
constexpr int IDS_LBL_PORT_NAME = 7027; // this platform's device path (PortName)
constexpr int IDS_TIP_PORT = 7028;      // tooltip of the port box
constexpr int IDS_BAD_PORT_TEXT = 7029; // the port box holds neither a number nor a path
// Page "Send" (the Before/Middle/After rows serve Null, Space and User code alike).
constexpr int IDS_GROUP_PARAMETER = 7030;
constexpr int IDS_GROUP_OPTION = 7031;
constexpr int IDS_GROUP_SKIP_DATA = 7032;
constexpr int IDS_GROUP_NULL = 7033;
constexpr int IDS_GROUP_SPACE = 7034;
constexpr int IDS_GROUP_USER_CODE = 7035;
constexpr int IDS_LBL_BEFORE = 7036;
constexpr int IDS_LBL_MIDDLE = 7037;
constexpr int IDS_LBL_AFTER = 7038;
constexpr int IDS_LBL_LINE_FEED = 7039;
constexpr int IDS_LBL_PERCENT_ADDITION = 7040;
constexpr int IDS_LBL_TV_CHECK = 7041;
constexpr int IDS_LBL_N_BASE = 7042;
constexpr int IDS_LBL_N_INCREMENTAL = 7043;
constexpr int IDS_CHK_OUTPUT_COMMENT = 7044;
constexpr int IDS_CHK_HEAD_LF = 7045;
constexpr int IDS_CHK_OUTPUT_BLANK_LINE = 7046;
constexpr int IDS_CHK_WAIT_FOR_DC1 = 7047;
constexpr int IDS_CHK_DELETE_PERCENT = 7048;
constexpr int IDS_CHK_WORD_BREAK = 7049;
constexpr int IDS_LBL_WAIT = 7050;
constexpr int IDS_LBL_MSEC = 7051;
constexpr int IDS_LBL_SKIP_FUNCTION = 7052;
constexpr int IDS_LBL_SKIP_LINE = 7053;
constexpr int IDS_SHEET_PATH_TOO_LONG = 7054; // a machine file path beyond 259 bytes
constexpr int IDS_TIP_DC_CODE = 7055;         // tooltip of the four DC code fields
// Page "Receive" (also uses the Parameter, Option, Skip data and User code groups above).
constexpr int IDS_LBL_START_CHECK = 7060;
constexpr int IDS_LBL_END_CHECK = 7061;
constexpr int IDS_LBL_SPACE_CHARACTER = 7062;
constexpr int IDS_LBL_TIMEOUT = 7063;
// The Space and User code rows of page "Send", each with access keys of their own: one key
// may lead to one field only.
constexpr int IDS_LBL_SPACE_BEFORE = 7064;
constexpr int IDS_LBL_SPACE_MIDDLE = 7065;
constexpr int IDS_LBL_SPACE_AFTER = 7066;
constexpr int IDS_LBL_USER_BEFORE = 7067;
constexpr int IDS_LBL_USER_MIDDLE = 7068;
constexpr int IDS_LBL_USER_AFTER = 7069;
// Page "Options".
constexpr int IDS_GROUP_FILE = 7070;
constexpr int IDS_LBL_NC_EXTENSION = 7071;

// Property dialog.
constexpr int IDS_DLG_PROPERTY = 7100;
constexpr int IDS_GROUP_DELETE_HISTORY = 7101;
constexpr int IDS_GROUP_DISP_COLOR = 7102;
constexpr int IDS_GROUP_OPTIONS = 7103;
constexpr int IDS_BTN_NC_DATA = 7104;
constexpr int IDS_BTN_MACHINE_DATA = 7105;
constexpr int IDS_LBL_BACKGROUND_COLOR = 7106;
constexpr int IDS_LBL_TEXT_COLOR = 7107;
constexpr int IDS_LBL_CONTROL_CODE_COLOR = 7108;
constexpr int IDS_LBL_FLOW_CONTROL_COLOR = 7109;
constexpr int IDS_CHK_ECHO = 7110;
constexpr int IDS_CHK_GRADIENT = 7111;
constexpr int IDS_CHK_ONE_INSTANCE = 7112;

// Version information.
constexpr int IDS_DLG_VERSION_INFO = 7200;
constexpr int IDS_BTN_SYSTEM_INFO = 7201;
constexpr int IDS_LBL_SUPPORT_MAIL = 7202;
constexpr int IDS_LBL_HOME_PAGE = 7203;
constexpr int IDS_GROUP_INFORMATION = 7204;
constexpr int IDS_GROUP_WARNING = 7205;
constexpr int IDS_LEGAL_NOTICE = 7206;

// Send file list.
constexpr int IDS_DLG_SEND_FILE_LIST = 7300;
constexpr int IDS_BTN_ADD = 7301;
constexpr int IDS_BTN_REMOVE = 7302;
constexpr int IDS_BTN_UP = 7303;
constexpr int IDS_BTN_DOWN = 7304;

// Buttons of every dialog.
constexpr int IDS_BTN_OK = 7900;
constexpr int IDS_BTN_CANCEL = 7901;
constexpr int IDS_BTN_HELP = 7902;

// Port and device layer of this platform.
constexpr int IDS_PORT_PERMISSION_DENIED = 8000; // EACCES opening a serial device
constexpr int IDS_PORT_BUSY = 8001;              // EBUSY, or exclusive use refused
constexpr int IDS_PORT_NOT_FOUND = 8002;         // ENOENT / ENXIO
constexpr int IDS_PORT_NOT_A_SERIAL_PORT = 8003; // ENOTTY from the line settings
constexpr int IDS_PORT_SETTINGS_REJECTED = 8004; // the driver refused the line settings
constexpr int IDS_PORT_DISCONNECTED = 8005;      // EIO / hang-up during a transfer
constexpr int IDS_DEVICE_FILE_NOT_WRITTEN = 8006;
constexpr int IDS_DEVICE_FILE_NOT_READ = 8007;
constexpr int IDS_TARGET_FILE_NOT_WRITTEN = 8008; // the receive target file
constexpr int IDS_FMT_SYSTEM_ERROR = 8009;        // "%s (%s)" message, system error text

// Network ports (serial device servers) and the settings a port did not take. %s HOST:PORT
// first where a server is named.
constexpr int IDS_NET_BAD_PORT_TEXT = 8300;     // PortName is no port text; nothing was tried
constexpr int IDS_NET_NAME_NOT_RESOLVED = 8301; // %s HOST:PORT
constexpr int IDS_NET_REFUSED = 8302;           // %s HOST:PORT
constexpr int IDS_NET_NO_ANSWER = 8303;         // %s HOST:PORT
constexpr int IDS_NET_DROPPED = 8304;           // %s HOST:PORT, during a transfer
constexpr int IDS_NET_NO_TELNET = 8305;         // %s HOST:PORT, rfc2217:// to a raw port
constexpr int IDS_NET_UNREACHABLE = 8306;       // %s HOST:PORT, %s system error text
constexpr int IDS_NET_NOT_CONFIRMED = 8307;     // %s HOST:PORT, %s setting, %s value asked
constexpr int IDS_NET_SET_DIFFERENTLY = 8308;   // %s HOST:PORT, %s setting, %s got, %s asked
constexpr int IDS_PORT_SETTINGS_DROPPED = 8309; // %s device, %s the settings, e.g. "CS7 PARENB"
constexpr int IDS_NET_BAUD_RATE = 8310;         // names of the settings in the two warnings
constexpr int IDS_NET_DATA_SIZE = 8311;
constexpr int IDS_NET_PARITY = 8312;
constexpr int IDS_NET_STOP_SIZE = 8313;
constexpr int IDS_NET_FLOW_CONTROL = 8314;
constexpr int IDS_NET_DTR = 8315;
constexpr int IDS_NET_RTS = 8316;
// %s HOST:PORT, %s seconds: the server took nothing (or left a question unanswered) that long
constexpr int IDS_NET_SERVER_STALLED = 8317;
// %s HOST:PORT, %s the server's reason: the server could not open its own serial device
constexpr int IDS_NET_DEVICE_OPEN_FAILED = 8318;
constexpr int IDS_NET_NO_BINARY = 8319; // %s HOST:PORT

// After a receive, the program compared with what its file held before.
constexpr int IDS_COMPARE_NEW_FILE = 8320;
constexpr int IDS_COMPARE_IDENTICAL = 8321;
constexpr int IDS_FMT_COMPARE_DIFFERS = 8322; // %s lines that differ, %s the first one's number
// The window's own checks and notices: machine files, the pre-send check, receives kept
// aside, closing during a transfer, the manual.
constexpr int IDS_MACHINE_IN_USE_KEPT = 8600;
constexpr int IDS_FILES_NOT_SENT_WITH_MACHINE = 8601;
constexpr int IDS_FMT_ASK_SEND_MACHINE = 8602;     // "%s" machine file, "%s" port
constexpr int IDS_MACHINE_OF_CONFIGURATION = 8603; // the machine without a file of its own
constexpr int IDS_PORT_DEVICE_FILE = 8604;         // the port of a machine whose device is a file
constexpr int IDS_FMT_RECEIVE_KEPT_PART = 8610;    // "%s" the .part file, "%s" the target
constexpr int IDS_FMT_RECEIVE_NOTHING_KEPT = 8611; // "%s" the target
constexpr int IDS_FMT_RECEIVE_NOT_IN_PLACE = 8612; // "%s" target, "%s" error, "%s" .part file
constexpr int IDS_FMT_SEND_LINE_TOO_LONG = 8620;   // "%s" file, "%d" line, "%d" length
constexpr int IDS_FMT_SEND_NOT_CARRIED = 8621;     // "%s" file, "%d" line, "%d" column, "%s" code
constexpr int IDS_FMT_SEND_BINARY = 8622;          // "%s" file, "%d" line
constexpr int IDS_SEND_REFUSED = 8623;             // closing line of a send refused before it began
constexpr int IDS_ASK_STOP_SENDING = 8630;
constexpr int IDS_ASK_STOP_RECEIVING = 8631;
constexpr int IDS_HELP_NOT_OPENED = 8640;    // followed by the manual's path
constexpr int IDS_HELP_NOT_INSTALLED = 8641; // followed by the manual's path

// The Restart from... dialog.
constexpr int IDS_RESTART_TITLE = 8400;        // "Restart from"
constexpr int IDS_RESTART_TOOL_CHANGES = 8401; // "Tool changes:"
constexpr int IDS_RESTART_PLACE = 8402;        // "Restart at (T2, T2:2, N120 or L40):"
constexpr int IDS_RESTART_PREVIEW = 8403;      // "What will be sent:"
constexpr int IDS_RESTART_SEND = 8404;         // "Send"
constexpr int IDS_RESTART_NOT_A_PLACE = 8405;  // a text that is none of the forms

} // namespace corvane
