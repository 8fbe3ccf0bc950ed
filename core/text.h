// One text in the program's two languages: Chinese, which the windows always speak, and
// English, which velindra-cli speaks outside a Chinese locale.
#pragma once

namespace velindra {

struct Text {
    const char* zh;
    const char* en;
};

}  // namespace velindra
