// osascript's parser of the one AppleScript statement it runs.
#include "FuzzSupport.h"
#include "osascript/ShellScriptStatement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)tarn::osascript::parseShellScriptStatement(QString::fromUtf8(tarn::fuzz::bytes(data, size)));
    } catch (const tarn::osascript::StatementError&) {
    }
    return 0;
}
