#pragma once

// What the line control needs of the serial port engine: start it on the data
// handle of a connected call and stop it when the call ends. The connection's
// CommPort implements it.

class CallPort {
public:
    virtual ~CallPort() = default;

    // Takes ownership of `fd` (closed on failure too). `answered` tells an
    // answered call from a dialled one. False when the port did not start.
    virtual bool Start(int fd, bool answered) = 0;
    // Ends the connection; does nothing when none is running.
    virtual void Stop() = 0;
};
