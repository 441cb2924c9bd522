// Trelview's window in this process under an X server of its own (run
// through xvfb-run): buttons clicked where a person would click them, the
// About box, and scanner bytes from a pseudo-terminal reaching the pane.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "demo/demo_bench.h"
#include "demo/trelviewdlg.h"
#include "sim/pty_pair.h"

namespace {

// Runs the main loop until `done` holds, for at most five seconds.
template <typename Done>
bool spin_until(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    g_main_context_iteration(nullptr, FALSE);
  }
  return true;
}

// The pointer moved onto a button (so that it takes the press), then a
// press and release at its centre, as the X server would deliver them.
void click(GtkWidget* button) {
  GdkWindow* window = gtk_button_get_event_window(GTK_BUTTON(button));
  const int x = gtk_widget_get_allocated_width(button) / 2;
  const int y = gtk_widget_get_allocated_height(button) / 2;
  int root_x = 0, root_y = 0;
  gdk_window_get_root_coords(window, x, y, &root_x, &root_y);
  GdkDisplay* display = gdk_display_get_default();
  gdk_device_warp(gdk_seat_get_pointer(gdk_display_get_default_seat(display)),
                  gdk_screen_get_default(), root_x, root_y);
  ASSERT_TRUE(spin_until([&] {
    return (gtk_widget_get_state_flags(button) & GTK_STATE_FLAG_PRELIGHT) != 0;
  }));
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    ASSERT_TRUE(gdk_test_simulate_button(window, x, y, 1, GdkModifierType(0), type));
  }
}

class DemoDialogGtk : public ::testing::Test {
 protected:
  void SetUp() override {
    bench_.insertDemoCard();
    dialog_ = std::make_unique<TrelviewDlg>(bench_.settings(),
                                            [this](int) { return pty_.slavePath(); });
    gtk_widget_show_all(dialog_->window());
    gtk_test_widget_wait_for_draw(dialog_->window());
  }
  void TearDown() override { dialog_.reset(); }
  bool paneEndsWith(const std::string& tail) { return dialog_->paneText().ends_with(tail); }

  DemoBench bench_;
  PtyPair pty_;
  std::unique_ptr<TrelviewDlg> dialog_;
};

// Controls at their template place and size, 1.5 px per unit; the photo
// control keeps its size whatever the photo's.
TEST_F(DemoDialogGtk, ControlsAndThePhoto) {
  const std::pair<int, std::array<int, 4>> places[] = {{1005, {587, 126, 105, 30}},
                                                       {1028, {582, 554, 102, 32}}};
  for (const auto& [id, want] : places) {
    GtkAllocation a, fixed;
    gtk_widget_get_allocation(dialog_->control(id), &a);
    gtk_widget_get_allocation(gtk_widget_get_parent(dialog_->control(id)), &fixed);
    EXPECT_EQ((std::array{a.x - fixed.x, a.y - fixed.y, a.width, a.height}), want) << id;
  }
  bench_.insertIdCardA();
  GtkImage* picture = GTK_IMAGE(dialog_->control(1022));
  const GdkPixbuf* start = gtk_image_get_pixbuf(picture);
  click(dialog_->control(1006));
  ASSERT_TRUE(spin_until([&] { return paneEndsWith("证件签发止日期: 2015010120350101\r\n"); }));
  const GdkPixbuf* photo = gtk_image_get_pixbuf(picture);
  ASSERT_NE(photo, start);
  EXPECT_EQ(gdk_pixbuf_get_width(photo), 102);
  EXPECT_EQ(gdk_pixbuf_get_height(photo), 126);
  GtkAllocation a;
  gtk_widget_get_allocation(gtk_widget_get_parent(gtk_widget_get_parent(GTK_WIDGET(picture))), &a);
  EXPECT_EQ(a.height, 104);
}

// The sector road with the preset key, five times: more than the pane
// holds, and the last line must be in view. Clearing the pane keeps the key.
TEST_F(DemoDialogGtk, SectorRoadShowsItsEndAndClearKeepsTheKey) {
  for (int run = 0; run < 5; ++run) {
    click(dialog_->control(1005));
    ASSERT_TRUE(spin_until([&] {
      return dialog_->paneText().size() > size_t(run) * 100 && paneEndsWith("Change key ok\r\n");
    })) << dialog_->paneText();
  }
  gtk_test_widget_wait_for_draw(dialog_->window());
  GtkAdjustment* v =
      gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(gtk_widget_get_parent(dialog_->control(1001))));
  ASSERT_TRUE(spin_until([&] {
    const double page = gtk_adjustment_get_page_size(v), upper = gtk_adjustment_get_upper(v);
    return upper > page && gtk_adjustment_get_value(v) + page >= upper - 1;
  }));
  GtkEntry* key = GTK_ENTRY(dialog_->control(1024));
  gtk_entry_set_text(key, "FFFFFFFFFFFF");
  click(dialog_->control(1013));
  ASSERT_TRUE(spin_until([&] { return dialog_->paneText().empty(); }));
  EXPECT_STREQ(gtk_entry_get_text(key), "FFFFFFFFFFFF");
}

TEST_F(DemoDialogGtk, AboutOpensFromTheMenuAndCloses) {
  gtk_menu_item_activate(GTK_MENU_ITEM(dialog_->aboutItemForTest()));
  GtkWidget* about = dialog_->aboutBoxForTest();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(about)));
  gtk_test_widget_wait_for_draw(about);
  click(GTK_WIDGET(g_object_get_data(G_OBJECT(about), "ok-button")));
  EXPECT_TRUE(spin_until([&] { return dialog_->aboutBoxForTest() == nullptr; }));
}

TEST_F(DemoDialogGtk, ScannerBytesReachThePaneFiltered) {
  ASSERT_TRUE(pty_.ok());
  serialport& port = dialog_->serialPortForTest();
  ASSERT_TRUE(port.OpenPort(&dialog_->portOwnerForTest(), 1, 115200, 'N', 8, 1, EV_RXCHAR, 64));
  ASSERT_TRUE(port.StartWatch());
  ASSERT_TRUE(pty_.writeAll({0x22, 0x00, 0x05, 0x41, 0x61, 'h', 'i', '\r', '"', 'A', 'b'}));
  EXPECT_TRUE(spin_until([&] { return dialog_->paneText() == "hi\"Ab"; })) << dialog_->paneText();
  // A long hex line wraps inside the pane, and no hyphen is drawn at a
  // break: each run of the pane's lines has one glyph per character.
  std::vector<uint8_t> hex;
  for (int i = 0; i < 200; ++i) hex.push_back(uint8_t("0123456789ABCDEF"[i / 2 % 16]));
  ASSERT_TRUE(pty_.writeAll(hex));
  ASSERT_TRUE(spin_until([&] { return dialog_->paneText().size() == 205; }));
  gtk_test_widget_wait_for_draw(dialog_->window());
  GtkLabel* pane = GTK_LABEL(dialog_->control(1001));
  ASSERT_TRUE(gtk_label_get_selectable(pane));
  PangoLayout* layout = gtk_label_get_layout(pane);
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, nullptr);
  EXPECT_LE(width, gtk_widget_get_allocated_width(GTK_WIDGET(pane)));
  EXPECT_GT(pango_layout_get_line_count(layout), 2);
  for (GSList* line = pango_layout_get_lines_readonly(layout); line; line = line->next) {
    for (GSList* r = static_cast<PangoLayoutLine*>(line->data)->runs; r; r = r->next) {
      const PangoGlyphItem* run = static_cast<PangoGlyphItem*>(r->data);
      EXPECT_EQ(run->glyphs->num_glyphs, run->item->num_chars);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Simulated presses are core X events, which GTK reads only in this mode.
  setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
