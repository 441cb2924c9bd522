// Trelview's window in this process under an X server of its own (run
// through xvfb-run): buttons clicked where a person would click them, the
// About box, and scanner bytes from a pseudo-terminal reaching the pane.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core_api/core_test_support.h"
#include "core_api/memory_transport.h"
#include "demo/trelviewdlg.h"
#include "kx_core.h"
#include "sim/card_field.h"
#include "sim/id_card_module.h"
#include "sim/pty_pair.h"

namespace {

constexpr int16_t kPort = 480;  // the application's transport

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
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  gdk_device_warp(pointer, gdk_screen_get_default(), root_x, root_y);
  ASSERT_TRUE(spin_until([&] { return gtk_widget_get_state_flags(button) & GTK_STATE_FLAG_PRELIGHT; }));
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    ASSERT_TRUE(gdk_test_simulate_button(window, x, y, 1, GdkModifierType(0), type));
  }
}

class DemoDialogGtk : public ::testing::Test {
 protected:
  void SetUp() override {
    provider_ = reader_.provider();
    CoreConfigure(KX_CFG_CALLBACKS, &provider_);
    field_.attach(reader_.model);
    MifareCard card = MifareCard::classic1k({0x11, 0x22, 0x33, 0x44});
    const MifareCard::Key key = {0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D};
    card.setKeys(1, key, key);
    field_.insert(card);
    CardTests::Settings settings;
    settings.port = kPort;
    settings.photo_path = library_directory_.root() + "me.bmp";
    dialog_ = std::make_unique<TrelviewDlg>(settings, [this](int) { return pty_.slavePath(); });
    gtk_widget_show_all(dialog_->window());
    gtk_test_widget_wait_for_draw(dialog_->window());
  }
  void TearDown() override {
    dialog_.reset();
    PortProvider none{};
    CoreConfigure(KX_CFG_CALLBACKS, &none);
  }
  bool paneEndsWith(const std::string& tail) {
    const std::string text = dialog_->paneText();
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }

  TraceDir library_directory_;  // the product trace goes there
  MemoryTransportReader reader_;
  PortProvider provider_{};
  CardField field_;
  IdCardModule ids_;  // card A, once attached
  PtyPair pty_;
  std::unique_ptr<TrelviewDlg> dialog_;
};

TEST_F(DemoDialogGtk, ControlsWhereTheTemplatePutsThem) {
  struct Row {
    int id, x, y, width, height;
  } rows[] = {{1005, 587, 126, 105, 30}, {1028, 582, 554, 102, 32}};
  for (const Row& row : rows) {
    GtkAllocation a;
    gtk_widget_get_allocation(dialog_->control(row.id), &a);
    GtkAllocation fixed;
    gtk_widget_get_allocation(gtk_widget_get_parent(dialog_->control(row.id)), &fixed);
    EXPECT_EQ(a.x - fixed.x, row.x) << row.id;
    EXPECT_EQ(a.y - fixed.y, row.y) << row.id;
    EXPECT_EQ(a.width, row.width) << row.id;
    EXPECT_EQ(a.height, row.height) << row.id;
  }
}

TEST_F(DemoDialogGtk, SectorRoadShowsItsEnd) {
  // Five runs fill more than the pane; the last line must be in view.
  for (int run = 0; run < 5; ++run) {
    click(dialog_->control(1005));
    ASSERT_TRUE(spin_until([&] {
      return dialog_->paneText().size() > size_t(run) * 100 && paneEndsWith("Change key ok\r\n");
    })) << dialog_->paneText();
  }
  EXPECT_TRUE(paneEndsWith("Read the blk5 is : 11223344556677889900AABBCCDDEEFF\r\nChange key ok\r\n"));
  gtk_test_widget_wait_for_draw(dialog_->window());
  GtkAdjustment* v = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(dialog_->control(1001)));
  ASSERT_TRUE(spin_until([&] {
    return gtk_adjustment_get_upper(v) > gtk_adjustment_get_page_size(v) &&
           gtk_adjustment_get_value(v) + gtk_adjustment_get_page_size(v) >=
               gtk_adjustment_get_upper(v) - 1;
  }));
}

TEST_F(DemoDialogGtk, IdentityCardPhotoInThePicture) {
  ids_.attach(reader_.model);
  const std::filesystem::path decoder(QM_DEMO_PHOTO_DECODER);
  std::filesystem::copy_file(decoder, library_directory_.root() + decoder.filename().string());
  GtkImage* picture = GTK_IMAGE(dialog_->control(1022));
  const GdkPixbuf* start = gtk_image_get_pixbuf(picture);
  click(dialog_->control(1006));
  ASSERT_TRUE(spin_until([&] { return paneEndsWith("证件签发止日期: 2015010120350101\r\n"); }));
  const GdkPixbuf* photo = gtk_image_get_pixbuf(picture);
  ASSERT_NE(photo, start);
  EXPECT_EQ(gdk_pixbuf_get_width(photo), 102);
  EXPECT_EQ(gdk_pixbuf_get_height(photo), 126);
  GtkAllocation a;  // the control keeps its size
  gtk_widget_get_allocation(gtk_widget_get_parent(gtk_widget_get_parent(GTK_WIDGET(picture))), &a);
  EXPECT_EQ(a.height, 104);
}

TEST_F(DemoDialogGtk, AboutOpensFromTheMenuAndCloses) {
  gtk_menu_item_activate(GTK_MENU_ITEM(dialog_->aboutItemForTest()));
  ASSERT_NE(dialog_->aboutBoxForTest(), nullptr);
  GtkWidget* about = dialog_->aboutBoxForTest();
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(about)), "关于 Trelview");
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(about)));
  gtk_test_widget_wait_for_draw(about);
  click(GTK_WIDGET(g_object_get_data(G_OBJECT(about), "ok-button")));
  EXPECT_TRUE(spin_until([&] { return dialog_->aboutBoxForTest() == nullptr; }));
}

TEST_F(DemoDialogGtk, ClearKeepsTheKey) {
  GtkEntry* key = GTK_ENTRY(dialog_->control(1024));
  EXPECT_STREQ(gtk_entry_get_text(key), "A3C5E7092B4D");
  gtk_entry_set_text(key, "FFFFFFFFFFFF");
  click(dialog_->control(1012));
  ASSERT_TRUE(spin_until([&] { return !dialog_->paneText().empty(); }));
  click(dialog_->control(1013));
  ASSERT_TRUE(spin_until([&] { return dialog_->paneText().empty(); }));
  EXPECT_STREQ(gtk_entry_get_text(key), "FFFFFFFFFFFF");
}

TEST_F(DemoDialogGtk, ScannerBytesReachThePaneFiltered) {
  ASSERT_TRUE(pty_.ok());
  serialport& port = dialog_->serialPortForTest();
  ASSERT_TRUE(port.OpenPort(&dialog_->portOwnerForTest(), 1, 115200, 'N', 8, 1, EV_RXCHAR, 64));
  ASSERT_TRUE(port.StartWatch());
  ASSERT_TRUE(pty_.writeAll({0x22, 0x00, 0x05, 0x41, 0x61, 'h', 'i', '\r', '"', 'A', 'b'}));
  EXPECT_TRUE(spin_until([&] { return dialog_->paneText() == "hi\"Ab"; })) << dialog_->paneText();
  port.StopWatch();
}

}  // namespace

int main(int argc, char** argv) {
  // Simulated presses are core X events, which GTK reads only in this mode.
  setenv("GDK_CORE_DEVICE_EVENTS", "1", 1);
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
