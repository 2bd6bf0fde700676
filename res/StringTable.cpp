#include "StringTable.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
    StringId id;
    const char* text;
};

constexpr Entry kTable[] = {
    {IDS_APP_TITLE, "Dialscope"},
    {IDP_INPUT_USER_NAME, "\n\n Please input user name! \n\n"},
    {IDP_INPUT_DIAL_NUMBER, "\n\n Please input dial number. \n\n"},
    {IDP_ADD_TO_DIRECTORY, "\n\n Add to directory? \n\n"},
    {IDP_PASSWORD_NOT_CORRECT, "\n\n Password is not correct! \n\n"},
    {IDP_DELETE_SELECTED, "\n\n Delete select item(s) ? \n\n"},
    {IDP_INPUT_ERROR, "\n\n Input error! \n\n"},
    {IDP_CLOSE_CHANNEL, "\n\n Are you sure close local site video channel? \n\n"},
    {IDP_LOGIN_ERROR, "\n\n ** Login Error ** \n\n User name or password invalid.\n\n"},
    {IDP_COMPRESSION_ERROR, "\n\n ** Compression Error ** \n\n Can not found compression.\n\n"},
    {IDP_DISK_SPACE_LOW, "\n\n Warning!! \n\n Disk space is low. \n\n"},
    {IDS_VIDEO_CLIPS, "Video clips"},
    {IDP_NOT_COMM_HANDLE, "\n File handle is not a comm handle. \n"},
    {IDP_SAVE_OK, "\n\n Save OK. \n\n"},
    {IDP_OPEN_FILE_ERROR, "\n\n Open file error! \n\n"},
    {IDP_SAVE_FAILED, "\n\n Save file error! \n\n"},
    {IDS_STATUS_DISCONNECT, "Disconnect"},
    {IDS_STATUS_STREAM_ERROR, "Stream error!"},
    {IDS_STATUS_CONNECTED, "Connect:  %1 -- %2    Frame: %3"},
    {IDP_PARSE_INT_RANGE, "Please enter an integer between %1 and %2."},
    {IDP_PARSE_UINT, "Please enter a positive integer."},
    {IDS_CHANNEL_STOPPED, "Stop."},
    {IDS_PROMPT_CHANNEL_RECORD, "Start video channel record\nRecord"},
    {IDS_PROMPT_CHANNEL_STOP, "Stop video channel record\nStop"},
    {IDS_PROMPT_CHANNEL_FIX, "Fix video channel\nFix"},
    {IDS_PROMPT_CHANNEL_CLOSE, "Close video channel\nClose"},
    {IDS_PROMPT_CHANNEL_SNAPSHOT, "Snapshot\nSnapshot"},
    {IDS_DISK_FREE, "%1 MB Free on %2"},
    {IDS_ABOUT_VERSION, "Dialscope version 5.20"},
    {IDS_HELP_TITLE, "Dialscope Help"},
    {IDP_HELP_NOT_FOUND, "\n\n Cannot find the help file DScope.Hlp. \n\n"},
    {IDS_READY, "Ready"},
    {IDS_CMD_CONNECT, "Connect to local site\nConnect"},
    {IDS_CMD_HANG_UP, "Hang up the telephone line\nHang up"},
    {IDS_CMD_PLAYBACK, "Playback video\nPlayback video"},
    {IDS_CMD_SELECT_MODEM, "Select the modem device\nSelect modem"},
    {IDS_CMD_OPEN_CHANNEL, "Open local site video channel\nOpen video channel"},
    {IDS_CMD_VIDEO_WINDOW, "Arrange or resize the video windows\nVideo window"},
    {IDS_CMD_CHANGE_SIZE, "Double-click a video window to change its size\nChange video size"},
    {IDS_CMD_ARRANGE, "Arrange the video windows\nArrange video window"},
    {IDS_CMD_PHONE_BOOK, "Setup phone book\nPhone book"},
    {IDS_CMD_TOOLBAR, "Show or hide the toolbar and status bar\nToggle toolbar"},
    {IDS_CMD_RECORD_PATH, "Setup video record path\nRecord path"},
    {IDS_CMD_HELP, "Open the online help\nHelp"},
    {IDS_CMD_SETUP_PASSWORD, "Setup password\nPassword"},
    {IDS_CMD_OPTIONS, "Change the options\nOptions"},
    {IDS_CMD_LISTEN, "Wait for calls from local sites\nListen"},
    {IDS_CMD_STOP_ALARM, "Stop sound alarm\nStop alarm"},
    {IDS_CMD_EVENT_NOTIFY, "Browse event notify\nEvent notify"},
    {IDS_CMD_ABOUT, "Display program information and version\nAbout"},
    {IDS_CMD_EXIT, "Quit the application\nExit"},
    {IDP_SETTINGS_NOT_SAVED, "\n\n Save settings error! \n\n"},
    {IDP_RECORD_PATH_TOO_LONG, "\n\n Record path is too long! \n\n"},
    {IDS_LOOKING_FOR_MODEMS, "Looking for modems..."},
    {IDS_EXPORT_TITLE, "Export video"},
    {IDS_EXPORT_FILTER, "MP4 video, H.264 (*.mp4);;MKV video, original frames (*.mkv)"},
    {IDS_EXPORT_PROGRESS, "Exporting %1\n%2% done, %3 left"},
    {IDP_EXPORT_OK, "\n\n Export OK. \n\n"},
    {IDP_EXPORT_FAILED, "\n\n Export file error! \n\n"},
    {IDP_EXPORT_NO_FOOTAGE, "\n\n No video clip in this time range! \n\n"},
    {IDP_EXPORT_ONE_CHANNEL, "\n\n Please select video clips of one channel. \n\n"},
    {IDP_EXPORT_NEED_RANGE, "\n\n Please select one channel and both times. \n\n"},
    {IDS_PICTURE_FILTER, "Bitmap file (*.bmp);;PNG picture (*.png);;JPEG picture (*.jpg *.jpeg)"},
    {IDS_EXPORT_TIME_UNKNOWN, "--:--"},
    {IDS_RECONNECT_COUNTDOWN, "Reconnecting in %1 s (attempt %2 of %3)"},
    {IDS_CMD_UNATTENDED, "Reconnect, site patrol and clip retention\nUnattended operation"},
    {IDS_RETENTION_DELETED, "Deleted clip %1 (%2 bytes)"},
    {IDS_CMD_PATROL_SETUP, "Choose the sites and the schedule of the site patrol\nSite patrol"},
    {IDS_CMD_PATROL_RUN, "Run a patrol round now\nRun patrol"},
    {IDS_CMD_PATROL_STOP, "Stop the patrol round\nStop patrol"},
    {IDS_CMD_PATROL_REPORT, "Show the last patrol rounds\nPatrol report"},
    {IDS_PATROL_ONCE_RUNNING, "Dialscope is already running; the patrol needs the modem to itself."},
    {IDS_PATROL_ONCE_EMPTY, "No sites to patrol: store a patrol list or name phone-book entries."},
    {IDS_CALL_PANEL_TITLE, "Call"},
    {IDS_CALL_PANEL_FIELDS,
     "Direction\nSite\nModem\nElapsed\nReceived\nSent\nReceive rate\nDamaged packets\nFrames"},
    {IDS_CALL_PANEL_COLUMNS, "Channel\nFrames\nFrames/min\nLast frame\nAge"},
    {IDS_CALL_DIRECTIONS, "dialled\nanswered"},
    {IDS_CALL_IDLE, "No call yet"},
    {IDS_CALL_RATE, "%1 B/s (%2 % of the line)"},
    {IDS_CALL_SPEED, "%1 bit/s"},
    {IDS_FRAME_AGE, "last frame %1 s ago"},
    {IDS_CHANNEL_STALLED, "stalled (%1 s)"},
    {IDS_CALL_LOG_TITLE, "Call log"},
    {IDS_CALL_LOG_COLUMNS,
     "Start\nDirection\nNumber\nSite\nModem\nResult\nEnded by\nDuration\nReceived\nSent\n"
     "Frames\nChannels\nClips\nEvent"},
    {IDS_CALL_RESULTS,
     "connected\nbusy\nno answer\nno dial tone\nno carrier\nlogin rejected\nno decompressor"},
    {IDS_CALL_ENDED_BY, "\noperator\nsite request\nfar end\nline error\nwatchdog"},
    {IDS_CALL_LOG_FILTERS, "From\nTo\nSite or number\nResult\nAll results\nExport to CSV...\nyes\nno"},
    {IDS_CALL_LOG_TOTALS, "%1 calls, connected %2, %3 bytes received, %4 bytes sent"},
    {IDP_CALL_LOG_EXPORT_FAILED, "\n\n The call log could not be written to that file. \n\n"},
    {IDS_CMD_CALL_PANEL, "Show or hide the call panel\nCall panel"},
    {IDS_CMD_CALL_LOG, "Show the log of past calls\nCall log"},
    {IDS_CALL_LAST, "Last call"},
    {IDS_NETWORK_MODEMS, "Network modems\ntcp://HOST:PORT or rfc2217://HOST:PORT\n&Add\n&Remove"},
    {IDP_NETWORK_MODEM_INVALID, "\n\n Type a network modem as tcp://HOST:PORT or rfc2217://HOST:PORT \n (a "
                                "host name or address, a port from 1 to 65535). \n\n"},
    {IDP_NETWORK_MODEM_LISTED, "\n\n This network modem is already in the list. \n\n"},
    {IDP_NETWORK_MODEMS_FULL, "\n\n The list holds at most 32 network modems. \n\n"},
    {IDS_CMD_NETWORK_MODEMS, "Add or remove modems reached over the network\nNetwork modems"},
};

} // namespace

QString LoadString(StringId id) {
    const auto* it =
        std::find_if(std::begin(kTable), std::end(kTable), [id](const Entry& e) { return e.id == id; });
    return it == std::end(kTable) ? QString() : QString::fromLatin1(it->text);
}
