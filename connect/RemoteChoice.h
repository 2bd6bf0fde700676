#pragma once

// The remote control dialog's result: which packet the operator asked for.
enum class RemoteChoice : int {
    None = 0,       // "&Q.Exit" or Escape: nothing is sent
    CloseSite = 1,  // close the site's program
    RebootSite = 2, // reboot the site
    RunProgram = 3, // ask for a command line, then have the site run it
};
