// Trelview's main window: the received-text pane, one button per card test,
// the sector key and stripe time-out fields, the photo, and an About box
// reached from the title bar's menu. A serial port is held for the
// scanner's byte stream, which the window never opens itself.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>

#include "demo/ack_filter.h"
#include "demo/card_tests.h"
#include "demo/serialport.h"

class TrelviewDlg {
 public:
  // `resolver` names the device of a serial port number (tests: a
  // pseudo-terminal).
  explicit TrelviewDlg(const CardTests::Settings& settings,
                       serialport::PathResolver resolver = serialport::ttyPath);
  ~TrelviewDlg();
  TrelviewDlg(const TrelviewDlg&) = delete;
  TrelviewDlg& operator=(const TrelviewDlg&) = delete;

  GtkWidget* window() const { return window_; }

  // For tests: a control by its id (1001-1029), the pane's text, the menu
  // item that opens the About box, the About box while it is open (null
  // otherwise), and the serial port with the owner that feeds the pane.
  GtkWidget* control(int id) const;
  std::string paneText() const;
  GtkWidget* aboutItemForTest() const { return about_item_; }
  GtkWidget* aboutBoxForTest() const { return about_; }
  serialport& serialPortForTest() { return port_; }
  SerialPortOwner& portOwnerForTest();

 private:
  class PaneSink;
  class PortOwner;

  void build();
  void buildTitleBar();
  void runButton(int id);
  void showAbout();
  void onPortMessage(uint32_t message, uint32_t wparam);
  void showFailure(const std::string& text);

  GtkWidget* window_ = nullptr;
  GtkWidget* about_item_ = nullptr;
  GtkWidget* about_ = nullptr;
  std::map<int, GtkWidget*> controls_;
  GtkTextBuffer* pane_text_ = nullptr;  // the received text, shown by control 1001
  std::unique_ptr<PaneSink> sink_;
  std::unique_ptr<CardTests> tests_;
  AckFilter filter_;
  std::unique_ptr<PortOwner> owner_;
  serialport port_;  // last: its watcher is stopped before the rest goes
};

// The application icon drawn at `size` pixels, and the start-up picture.
GdkPixbuf* trelview_icon(int size);
GdkPixbuf* trelview_picture();
