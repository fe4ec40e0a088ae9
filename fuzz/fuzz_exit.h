#pragma once

// Thrown where trawl would end the process, so a fuzz target can go on.
struct FuzzProcessEnded {
    int status;
};
