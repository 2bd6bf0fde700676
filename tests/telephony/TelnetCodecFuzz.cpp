// Feeds arbitrary server bytes to the Telnet decoder and the COM-PORT client,
// whole and in the pieces the first byte chooses: both ways must agree, no
// subnegotiation may outgrow its bound, and escaping the data must decode back.
#include "platform/telephony/ComPortClient.h"
#include "platform/telephony/TelnetCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t step = 1 + data[0] % 23;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    telnet::Decoder whole;
    std::string wholeData;
    std::vector<telnet::Event> wholeEvents;
    whole.feed(bytes, wholeData, wholeEvents);

    telnet::Decoder pieces;
    std::string piecesData;
    std::vector<telnet::Event> piecesEvents;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        pieces.feed(bytes.substr(at, step), piecesData, piecesEvents);

    if (wholeData != piecesData || wholeEvents != piecesEvents || wholeData.size() > bytes.size())
        std::abort();
    telnet::ComPortClient client;
    std::string reply = client.Start();
    for (const telnet::Event& event : wholeEvents) {
        if (event.payload.size() > telnet::Decoder::kMaxSubnegotiation)
            std::abort();
        client.onEvent(event, reply);
    }

    telnet::Decoder back;
    std::string again;
    std::vector<telnet::Event> none;
    back.feed(telnet::escaped(bytes), again, none);
    if (again != bytes || !none.empty())
        std::abort();
    return 0;
}
