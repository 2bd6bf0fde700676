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
};

} // namespace

QString LoadString(StringId id) {
    const auto* it = std::find_if(std::begin(kTable), std::end(kTable), [id](const Entry& e) { return e.id == id; });
    return it == std::end(kTable) ? QString() : QString::fromLatin1(it->text);
}
