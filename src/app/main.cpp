#include <clocale>

#include "app/run.h"
#include "platform/system/native_text.h"

int main(int argc, char** argv) {
    // Arguments arrive in the user's multibyte encoding; nothing else depends on the locale.
    std::setlocale(LC_CTYPE, "");
    return dormiscope::RunDormiscope(dormiscope::CommandLineArguments(argc, argv));
}
