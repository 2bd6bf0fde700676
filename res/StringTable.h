#pragma once

// The program's string table: every text the operator sees in a message box,
// looked up by its numeric identifier. Texts are kept byte for byte, including
// their framing line breaks and spaces, because operators and support compare
// them with what they remember from earlier versions.

#include "res/CommandId.h"

#include <QString>

enum StringId : int {
    IDS_APP_TITLE = 57344,            // caption of the main window and every message box
    IDP_INPUT_USER_NAME = 45001,      // empty user name
    IDP_INPUT_DIAL_NUMBER = 45002,    // empty dial number
    IDP_ADD_TO_DIRECTORY = 45003,     // question before storing a phone book entry
    IDP_PASSWORD_NOT_CORRECT = 45004, // wrong or mismatched password
    IDP_DELETE_SELECTED = 45005,      // question before deleting list rows
    IDP_INPUT_ERROR = 45006,          // Select without a selected row
    IDP_CLOSE_CHANNEL = 45007,        // question before closing a live channel
    IDP_LOGIN_ERROR = 45009,          // the site rejected the login
    IDP_COMPRESSION_ERROR = 45010,    // no decoder fits the site's video
    IDP_DISK_SPACE_LOW = 45011,       // free space below the threshold
    IDS_VIDEO_CLIPS = 45012,          // initial title of a player window
    IDP_NOT_COMM_HANDLE = 45100,      // a call's data handle that is not a serial device
    IDP_SAVE_OK = 45101,              // a bitmap file was written completely
    IDP_OPEN_FILE_ERROR = 45102,      // a clip could not be opened for playback
    IDP_SAVE_FAILED = 45103,          // a bitmap file could not be written completely
    IDS_STATUS_DISCONNECT = 45110,    // link status line while no call is connected
    IDS_STATUS_STREAM_ERROR = 45111,  // link status line after a packet of unknown type
    IDS_STATUS_CONNECTED = 45112,     // link status line: start time, current time, frame count
    IDP_PARSE_INT_RANGE = 61714,      // a number field outside its range; %1 and %2 are the bounds
    IDP_PARSE_UINT = 61719,           // a number field that holds no unsigned number
    IDS_CHANNEL_STOPPED = 45120,      // drawn over a channel's picture once the site stopped it
    // Command prompts: the status-bar text, a line break, then the tooltip.
    IDS_PROMPT_CHANNEL_RECORD = commandNumber(CommandId::ChannelRecord),
    IDS_PROMPT_CHANNEL_STOP = commandNumber(CommandId::ChannelStop),
    IDS_PROMPT_CHANNEL_FIX = commandNumber(CommandId::ChannelFix),
    IDS_PROMPT_CHANNEL_CLOSE = commandNumber(CommandId::ChannelClose),
    IDS_PROMPT_CHANNEL_SNAPSHOT = commandNumber(CommandId::ChannelSnapshot),
    IDS_DISK_FREE = 45130,      // status bar disk pane: free megabytes, mount point
    IDS_ABOUT_VERSION = 45131,  // the About box's text
    IDS_HELP_TITLE = 45132,     // the help window's title
    IDP_HELP_NOT_FOUND = 45133, // the help file is missing
    IDS_READY = 57345,          // status bar prompt pane while no prompt shows
    // Main window commands: status bar prompt, a line break, then the tooltip.
    IDS_CMD_CONNECT = commandNumber(CommandId::Connect),
    IDS_CMD_HANG_UP = commandNumber(CommandId::HangUp),
    IDS_CMD_PLAYBACK = commandNumber(CommandId::Playback),
    IDS_CMD_SELECT_MODEM = commandNumber(CommandId::SelectModem),
    IDS_CMD_OPEN_CHANNEL = commandNumber(CommandId::OpenChannel),
    IDS_CMD_VIDEO_WINDOW = commandNumber(CommandId::VideoWindow),
    IDS_CMD_CHANGE_SIZE = commandNumber(CommandId::ChangeSize),
    IDS_CMD_ARRANGE = commandNumber(CommandId::Arrange),
    IDS_CMD_PHONE_BOOK = commandNumber(CommandId::PhoneBook),
    IDS_CMD_TOOLBAR = commandNumber(CommandId::Toolbar),
    IDS_CMD_RECORD_PATH = commandNumber(CommandId::RecordPath),
    IDS_CMD_HELP = commandNumber(CommandId::Help),
    IDS_CMD_SETUP_PASSWORD = commandNumber(CommandId::SetupPassword),
    IDS_CMD_OPTIONS = commandNumber(CommandId::Options),
    IDS_CMD_LISTEN = commandNumber(CommandId::Listen),
    IDS_CMD_STOP_ALARM = commandNumber(CommandId::StopAlarm),
    IDS_CMD_EVENT_NOTIFY = commandNumber(CommandId::EventNotify),
    IDS_CMD_ABOUT = commandNumber(CommandId::AppAbout),
    IDS_CMD_EXIT = commandNumber(CommandId::AppExit),
    IDP_SETTINGS_NOT_SAVED = 45240,   // the settings store refused a dialog's values
    IDP_RECORD_PATH_TOO_LONG = 45241, // a record folder whose clips could not be listed back
    IDS_LOOKING_FOR_MODEMS = 45390,   // status bar modem pane while the ports are probed
    // Evidence export.
    IDS_EXPORT_TITLE = 45360,        // the export file dialog's title
    IDS_EXPORT_FILTER = 45361,       // its file types
    IDS_EXPORT_PROGRESS = 45362,     // progress: label, percentage, time left
    IDP_EXPORT_OK = 45363,           // the export file is complete
    IDP_EXPORT_FAILED = 45364,       // the export file could not be written
    IDP_EXPORT_NO_FOOTAGE = 45365,   // nothing recorded in the chosen clips or range
    IDP_EXPORT_ONE_CHANNEL = 45366,  // the selection spans channels
    IDP_EXPORT_NEED_RANGE = 45367,   // a range export needs one channel and both times
    IDS_PICTURE_FILTER = 45368,      // picture save dialog: bitmap, PNG, JPEG
    IDS_EXPORT_TIME_UNKNOWN = 45369, // progress before the time left is known
    // Unattended operation.
    IDS_RECONNECT_COUNTDOWN = 45300, // link status line while a redial waits: seconds, attempt, attempts
    IDS_CMD_UNATTENDED = 45301,      // setup > Unattended operation
    IDS_RETENTION_DELETED = 45302,   // log line: a clip deleted to free space or by age
    IDS_CMD_PATROL_SETUP = 45303,    // setup > Site patrol > Edit
    IDS_CMD_PATROL_RUN = 45304,      // setup > Site patrol > run now
    IDS_CMD_PATROL_STOP = 45305,     // setup > Site patrol > Stop
    IDS_CMD_PATROL_REPORT = 45306,   // view > patrol report
    IDS_PATROL_ONCE_RUNNING = 45308, // stderr: --patrol-once while another instance runs
    IDS_PATROL_ONCE_EMPTY = 45309,   // stderr: --patrol-once without sites
    // The call panel, the frame-age mark and the call log.
    IDS_CALL_PANEL_TITLE = 45260,       // the call panel's title
    IDS_CALL_PANEL_FIELDS = 45261,      // the call panel's field labels, one a line
    IDS_CALL_PANEL_COLUMNS = 45262,     // the channel list's columns, one a line
    IDS_CALL_DIRECTIONS = 45263,        // "dialled" and "answered", one a line
    IDS_CALL_IDLE = 45264,              // the call panel before the first call
    IDS_CALL_RATE = 45265,              // receive rate: bytes per second, share of the line
    IDS_CALL_SPEED = 45266,             // connect speed in bits per second
    IDS_FRAME_AGE = 45267,              // drawn over an old picture: its age in seconds
    IDS_CHANNEL_STALLED = 45268,        // a channel's age column once it stalled
    IDS_CALL_LOG_TITLE = 45269,         // the call log window's title
    IDS_CALL_LOG_COLUMNS = 45270,       // the call log's columns, one a line
    IDS_CALL_RESULTS = 45271,           // the call results in CallResult order, one a line
    IDS_CALL_ENDED_BY = 45272,          // who ended a call in CallEndedBy order, one a line
    IDS_CALL_LOG_FILTERS = 45273,       // the call log's filter labels and buttons, one a line
    IDS_CALL_LOG_TOTALS = 45274,        // totals of the listed calls
    IDP_CALL_LOG_EXPORT_FAILED = 45275, // the CSV file could not be written
    IDS_CMD_CALL_PANEL = 45276,         // View > Call panel: prompt, line break, tooltip
    IDS_CMD_CALL_LOG = 45277,           // View > Call log: prompt, line break, tooltip
    IDS_CALL_LAST = 45278,              // the call panel's title after the call ended
    IDS_NETWORK_MODEMS = 45340,         // Select modem: the network modem list's title, field hint, buttons
    IDP_NETWORK_MODEM_INVALID = 45341,  // a typed network modem that is no tcp:// or rfc2217:// address
    IDP_NETWORK_MODEM_LISTED = 45342,   // a typed network modem that is already listed
    IDP_NETWORK_MODEMS_FULL = 45343,    // the network modem list is full
    IDS_CMD_NETWORK_MODEMS = 45344,     // Connect > Network modems: prompt, line break, tooltip
    IDS_LOADING_CLIPS = 45391,          // clips browser and search while the clip catalog is read
};

// The text of an identifier; an empty string for an identifier not in the table.
QString loadString(StringId id);

// The string filed under a command's number: its prompt (status bar text, a
// line break, the tooltip), where the table has one.
constexpr StringId stringIdOf(CommandId id) {
    return StringId(commandNumber(id));
}
