// Every wait of the client's networking, in one place. Tests shorten them; the program
// never changes them.
#pragma once

struct net_timeouts {
    int text_ms;               // text channel connect, send and receive: 3000
    int connect_retry_ms;      // pause before the second text connect: 400
    int datagram_ms;           // receive time-out of the datagram session socket: 10000
    int datagram_tries;        // tries per datagram exchange: 5
    int file_connect_ms;       // framed file service connect: 3000
    int file_receive_ms;       // framed file data phase, per receive: 10000
    int min_rate_bytes_per_s;  // every transfer's floor, judged per rate window: 8192
    int rate_window_ms;        // the rate window (core/transfer_bound.h): 30000
};

extern net_timeouts g_net_timeouts;
