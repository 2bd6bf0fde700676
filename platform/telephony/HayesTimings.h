#pragma once

// How long the modem driver waits for things. The defaults are the real
// values; tests shorten them.
struct HayesTimings {
    int probeAnswerMs = 400;     // a probed port must answer each command within this
    int commandMs = 3000;        // a modem must answer a command within this
    int guardMs = 1000;          // silence before and after the "+++" escape
    int dtrDropMs = 500;         // how long DTR stays low to hang up
    int ringGapMs = 8000;        // an offered call is gone when RING stops for this long
    int answerMs = 60000;        // ATA must connect within this
    int carrierPollMs = 200;     // how often carrier detect is read during a call
    int hotplugSettleMs = 500;   // quiet time after a device folder changed before rescanning
    int connectMs = 5000;        // a network modem must accept the connection within this
    int noCarrierQuietMs = 1000; // raw TCP: silence after NO CARRIER before the call counts as lost
};
