#pragma once

namespace sentrel {

// Prepares the process for network work; called once at start-up, before
// the first socket is made. On Linux this means two things:
//  - SIGPIPE is ignored, so a peer that closes a connection (an SMTP server
//    hanging up mid-reply) gives EPIPE on the write instead of killing the
//    program;
//  - the soft limit of open files is raised to the hard limit, since every
//    one of up to 1024 host workers may hold a socket at the same time.
// The sockets-ready flag is set when SIGPIPE could be ignored; a limit that
// cannot be raised leaves the flag alone (sockets still work, only fewer at
// once). Returns the flag.
bool StartSockets();

// Clears the sockets-ready flag at shutdown. SIGPIPE stays ignored: a
// connection still closing must not kill the program on its way out.
void StopSockets();

// The sockets-ready flag; safe to read from any thread.
bool SocketsReady();

}  // namespace sentrel
