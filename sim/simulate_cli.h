// `simulate`: runs a simulated scale from the command line.
#pragma once

#include <string>

#include "sim/Simulator.h"

// What the command line asked the simulated scale to be.
struct SimulateOptions {
    int model = -1;              // --model N (required)
    bool pty = false;            // --pty
    std::string link;            // --link PATH
    int tcpPort = -1;            // --tcp PORT (0: any free port)
    double weight = 0;           // --weight KG
    bool unstable = false;       // --unstable
    bool overload = false;       // --overload
    bool havePrice = false;      // --price X
    double price = 0;
    bool haveCost = false;       // --cost X
    double cost = 0;
    double tare = 0;             // --tare KG
    int decimals = 3;            // --decimals D
    bool negative = false;       // --negative
    bool haveText = false;       // --text TEXT
    std::string text;
    sim::Fault fault = sim::Fault::None;  // --fault F
    int faultParam = 0;
    int pushEvery = 0;           // --push-every MS
    int pace = 0;                // --pace BAUD
    int gap = -1;                // --gap MS (-1: the model's default)
    bool ackFirstByte = false;   // --ack-first-byte
    bool closeAfterReply = false;  // --close-after-reply
    bool noStdin = false;        // --no-stdin
};

// The usage text, with the models the simulator has.
std::string SimulateUsage();
// A number as the simulator takes it ("1.5" or "1,5", within +-1e12).
bool ParseSimulatedNumber(const std::string& text, double* out);
// "slow:MS", "noise", ... as a fault and its number.
bool ParseSimulatedFault(const std::string& text, sim::Fault* fault, int* param);

// Serves the scale until SIGINT, SIGTERM or q on standard input; the exit status.
int RunSimulate(const SimulateOptions& options);
