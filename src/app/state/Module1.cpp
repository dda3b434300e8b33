#include "app/state/Module1.h"

#include "system/storage.h"

namespace pel {

void Module1::reset()
{
    slide_flag = actual_flag = slide_pos = jyun_flag = 0;
    file_name.clear();
    screen_w = screen_h = 0;
    ver_str.clear();
    frame_w = frame_h = 0;
    hscroll_flag = vscroll_flag = ime_flag = reduce_flag = 0;
    storage::reset();
}

}  // namespace pel
