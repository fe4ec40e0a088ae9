#pragma once

// Thrown where trawl would end the process.
struct ProcessEnded {
    int status;
};
