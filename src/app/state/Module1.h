#pragma once
// The shared state every window reads and writes, and the start procedure.
#include <QString>
#include <cstdint>

namespace pel {

class SingleInstance;
using Integer = std::int16_t;   // the 16-bit signed Integer of the windows' arithmetic
using Long = std::int32_t;

struct Module1 {
    // Guard flags (0 or 1, compared with 1).
    static inline Integer slide_flag = 0;    // a slideshow or sequential display runs
    static inline Integer actual_flag = 0;   // the viewer shows the selection (Command1)
    static inline Integer slide_pos = 0;     // index in List1 of the next file of a run
    static inline Integer jyun_flag = 0;     // sequential display chosen
    static inline QString file_name;         // name (no folder) of the current picture
    static inline Long screen_w = 0;         // screen size in twips, captured at load
    static inline Long screen_h = 0;
    static inline QString ver_str;           // version text
    static inline Integer frame_w = 0;       // viewer border widths (outer - inner), twips
    static inline Integer frame_h = 0;
    static inline Integer hscroll_flag = 0;  // the actual-size display showed a bar
    static inline Integer vscroll_flag = 0;
    static inline Integer ime_flag = 0;      // kanji input on in the rename dialog
    static inline Integer reduce_flag = 0;   // the viewer shows a reduced picture

    // Start: refuses a second instance, loads and shows the main window, runs the
    // event loop; returns the process exit code.
    static int proc1(int argc, char *argv[]);
    // The single-instance rule: false, after the message, when another instance
    // runs; a lock that could not be tried lets the program start (one line on stderr).
    static bool firstInstance(const SingleInstance &lock);

    // Back to the start values (tests run many starts in one process).
    static void reset();
};

}  // namespace pel
