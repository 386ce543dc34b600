// Where the toolbar goes for a console placement.
#include "toolbar/LvToolBarDock.h"

#include <gtest/gtest.h>

namespace {

using namespace lvplatform;

WINDOWPLACEMENT Console(TRect rect, std::uint32_t showCmd = SW_SHOWNORMAL, std::uint32_t flags = 0,
                        TPoint maxPosition = {-1, -1}) {
    WINDOWPLACEMENT p{};
    p.length = sizeof p;
    p.showCmd = showCmd;
    p.flags = flags;
    p.ptMaxPosition = maxPosition;
    p.rcNormalPosition = rect;
    return p;
}

struct DockRow {
    const char* fault;
    WINDOWPLACEMENT placement;
    std::int32_t borderWidth;
    bool visible;
    std::int32_t top;
    std::int32_t left;
};

void PrintTo(const DockRow& row, std::ostream* os) {
    *os << row.fault;
}

class ToolbarDock : public testing::TestWithParam<DockRow> {};

TEST_P(ToolbarDock, SitsOnTheConsolesTopEdge) {
    const DockRow& row = GetParam();
    const TToolbarDock dock = ToolbarDockFor(row.placement, 28, 516, row.borderWidth);
    ASSERT_EQ(dock.visible, row.visible);
    if (!row.visible)
        return;
    EXPECT_EQ(dock.top, row.top);
    EXPECT_EQ(dock.left, row.left);
}

const TRect k800x600At100x200{100, 200, 900, 800};

INSTANTIATE_TEST_SUITE_P(
    Rows, ToolbarDock,
    testing::Values(
        // Restored console: left-aligned, two frame widths in.
        DockRow{"restored_left_plus_two_frames", Console(k800x600At100x200), 4, true, 172, 108},
        // Restores to maximised: centred on ptMaxPosition over the normal width.
        DockRow{"restore_to_maximised_centred",
                Console(k800x600At100x200, SW_SHOWMAXIMIZED, WPF_RESTORETOMAXIMIZED, {-8, -8}), 4,
                true, -36, 134},
        DockRow{"min_position_flag_also_centres",
                Console(k800x600At100x200, SW_SHOWNORMAL, WPF_SETMINPOSITION, {-8, -8}), 4, true,
                -36, 134},
        DockRow{"x11_frame_width_zero", Console(k800x600At100x200), 0, true, 172, 100},
        // Integer halving truncates toward zero: an odd width of 801 halves to 400.
        DockRow{"odd_width_truncates",
                Console({100, 200, 901, 800}, SW_SHOWMAXIMIZED, WPF_RESTORETOMAXIMIZED, {0, 0}), 4,
                true, -28, 142},
        // Negative width (nonsense from a host) still truncates toward zero, not down.
        DockRow{"negative_width_truncates_toward_zero",
                Console({100, 200, 99, 800}, SW_SHOWMAXIMIZED, WPF_RESTORETOMAXIMIZED, {0, 0}), 4,
                true, -28, -258},
        DockRow{"minimised_hides", Console(k800x600At100x200, SW_SHOWMINIMIZED), 4, false, 0, 0},
        DockRow{"hidden_hides", Console(k800x600At100x200, SW_HIDE), 4, false, 0, 0},
        DockRow{"maximised_without_flags_left_aligned",
                Console({0, 0, 1600, 1000}, SW_SHOWMAXIMIZED), 0, true, -28, 0}),
    [](const testing::TestParamInfo<DockRow>& row) { return std::string(row.param.fault); });

TEST(ToolbarDockOffsets, OffsetsShiftTheResult) {
    const TToolbarDock dock = ToolbarDockFor(Console(k800x600At100x200), 28, 516, 4, 10, -3);
    EXPECT_EQ(dock.left, 118);
    EXPECT_EQ(dock.top, 169);
}

} // namespace
