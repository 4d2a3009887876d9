// Message boxes of this process, read and answered from a thread of their own: a box's modal
// loop holds the thread that shows it, so a test that sends the message which opens one cannot
// answer it itself.
#pragma once
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct seen_box {
    std::string caption;
    std::string text;
};

// True when window is a message box on screen (a visible dialog of the system's dialog class);
// box then holds its caption and text.
bool read_message_box(HWND window, seen_box *box);

struct box_watcher {
    std::atomic<HWND> main{nullptr};  // the program's own dialog: of the same class, no box
    int yes_no_answer = IDNO;         // pressed on a box that asks Yes or No; any other gets OK
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::vector<seen_box> seen;  // every box answered, in order
    std::thread thread;
    ~box_watcher();
};
void start_box_watcher(box_watcher *watcher);
void stop_box_watcher(box_watcher *watcher);  // a second call does nothing
std::vector<seen_box> boxes_seen(box_watcher *watcher);
