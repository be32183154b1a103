#include "tools/archive_tool.h"

ExtractionOutcome RunExtractionStage(const UpdateJob&, const wchar_t*, ProgressState&) {
    return {};
}
