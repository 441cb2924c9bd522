#include "demo/trelviewdlg.h"

#include <cairo.h>

#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr char kTitle[] = "OrvaneQM500V5.1";
constexpr char kKeyPreset[] = "A3C5E7092B4D";
constexpr char kTimeoutPreset[] = "1";
constexpr double kScale = 1.5;  // dialog units to pixels, for a 12 px font
constexpr int kClientWidth = 477, kClientHeight = 401;
constexpr int kAboutWidth = 235, kAboutHeight = 55;

int px(int units) { return int(std::lround(units * kScale)); }

enum class Kind { kGroup, kPane, kPicture, kButton, kEntry, kLabel };

struct Control {
  int id;  // 0: a group box or label
  Kind kind;
  const char* caption;
  int x, y, width, height;  // dialog units
};

// In the order they are placed: group boxes first, so the rest lies above.
constexpr Control kControls[] = {
    {0, Kind::kGroup, "接收数据", 3, 7, 289, 387},
    {0, Kind::kGroup, "扫码测试", 388, 13, 82, 62},
    {0, Kind::kGroup, "常用卡测试", 297, 73, 173, 59},
    {0, Kind::kGroup, "社保卡表面信息", 297, 140, 171, 66},
    {0, Kind::kGroup, "居民健康基本信息", 297, 209, 171, 37},
    {0, Kind::kGroup, "逻辑加密卡", 297, 247, 173, 32},
    {0, Kind::kGroup, "常规操作", 297, 280, 173, 39},
    {0, Kind::kGroup, "通用", 297, 327, 173, 32},
    {1001, Kind::kPane, "", 5, 24, 287, 370},
    {1022, Kind::kPicture, "", 297, 3, 85, 69},
    {1019, Kind::kButton, "获取一次扫码结果", 389, 29, 75, 20},
    {1017, Kind::kButton, "Button4", 411, 57, 59, 16},
    {1024, Kind::kEntry, "", 305, 85, 77, 20},
    {1005, Kind::kButton, "M1卡测试", 391, 84, 70, 20},
    {1006, Kind::kButton, "身份证/通行证", 307, 107, 70, 20},
    {1007, Kind::kButton, "读银行卡号", 389, 107, 70, 20},
    {1008, Kind::kButton, "读取社保05文件", 303, 160, 70, 20},
    {1009, Kind::kButton, "读取社保06文件", 387, 160, 70, 20},
    {1027, Kind::kButton, "PSAM+三代社保卡", 304, 185, 70, 20},
    {1011, Kind::kButton, "读取健康卡05文件", 305, 222, 70, 20},
    {1012, Kind::kButton, "读取健康卡06文件", 387, 222, 70, 20},
    {1014, Kind::kButton, "读4442/4428卡", 305, 256, 70, 20},
    {1015, Kind::kButton, "读24Cxx系列卡", 387, 256, 70, 20},
    {1016, Kind::kButton, "检测卡型", 305, 294, 70, 20},
    {1013, Kind::kButton, "清屏", 387, 293, 70, 20},
    {1025, Kind::kButton, "获取序列号", 305, 335, 68, 21},
    {1023, Kind::kButton, "PSAM测试", 388, 334, 68, 22},
    {0, Kind::kLabel, "超时时间(秒)", 297, 359, 65, 12},
    {1029, Kind::kEntry, "", 307, 371, 66, 21},
    {1028, Kind::kButton, "磁条卡测试", 388, 369, 68, 21},
};

constexpr char kStyle[] = R"(
  window, window * { font-family: "SimSun", "WenQuanYi Micro Hei"; font-size: 9pt; }
  #pane { font-family: "Arial", "Liberation Sans"; font-size: 15pt; }
  button { padding: 0 2px; min-height: 0; min-width: 0; }
  entry { padding: 0 4px; min-height: 0; min-width: 0; }
  frame > border { border-radius: 0; }
)";

void use_style(GtkWidget* window) {
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

GdkPixbuf* draw(int width, int height, const std::function<void(cairo_t*)>& paint) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  paint(cr);
  cairo_destroy(cr);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, width, height);
  cairo_surface_destroy(surface);
  return pixbuf;
}

void rounded_rectangle(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// Runs `work` on the GUI thread `gui` and waits until it ran, or until
// `stop` is requested; a call that is still queued then does nothing when
// it comes. On the GUI thread itself it runs at once.
void run_on_gui(std::thread::id gui, std::function<void()> work, std::stop_token stop) {
  if (std::this_thread::get_id() == gui) {
    work();
    return;
  }
  struct Call {
    std::mutex mu;
    std::condition_variable_any done_cv;
    bool done = false, cancelled = false;
    std::function<void()> work;
  };
  auto call = std::make_shared<Call>();
  call->work = std::move(work);
  // A source of the default context, never run here: another thread may
  // take the context when the GUI thread is between two iterations.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        Call& c = **static_cast<std::shared_ptr<Call>*>(data);
        std::unique_lock<std::mutex> lock(c.mu);
        if (!c.cancelled) {
          lock.unlock();
          c.work();
          lock.lock();
        }
        c.done = true;
        c.done_cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      new std::shared_ptr<Call>(call),
      [](gpointer data) { delete static_cast<std::shared_ptr<Call>*>(data); });
  g_source_attach(source, nullptr);
  g_source_unref(source);
  std::unique_lock<std::mutex> lock(call->mu);
  call->done_cv.wait(lock, stop, [&] { return call->done; });
  if (!call->done) call->cancelled = true;
}

// The whole of `buffer` into `label`.
void show_text(GtkTextBuffer* buffer, GtkLabel* label) {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  gtk_label_set_text(label, text);
  g_free(text);
}

}  // namespace

GdkPixbuf* trelview_icon(int size) {
  return draw(size, size, [size](cairo_t* cr) {
    const double s = size;
    rounded_rectangle(cr, 0.5, 0.5, s - 1, s - 1, s / 6);
    cairo_set_source_rgb(cr, 0.10, 0.34, 0.62);
    cairo_fill(cr);
    // A card with its chip.
    rounded_rectangle(cr, s * 0.16, s * 0.28, s * 0.68, s * 0.44, s / 16);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    cairo_rectangle(cr, s * 0.26, s * 0.40, s * 0.16, s * 0.12);
    cairo_set_source_rgb(cr, 0.85, 0.65, 0.13);
    cairo_fill(cr);
  });
}

GdkPixbuf* trelview_picture() {
  const int width = px(85), height = px(69);
  return draw(width, height, [width, height](cairo_t* cr) {
    const double w = width, h = height;
    cairo_set_source_rgb(cr, 0.93, 0.94, 0.96);
    cairo_paint(cr);
    // A desktop reader with a card in its slot.
    rounded_rectangle(cr, w * 0.12, h * 0.52, w * 0.76, h * 0.34, 6);
    cairo_set_source_rgb(cr, 0.20, 0.22, 0.26);
    cairo_fill(cr);
    rounded_rectangle(cr, w * 0.28, h * 0.14, w * 0.44, h * 0.46, 4);
    cairo_set_source_rgb(cr, 0.10, 0.34, 0.62);
    cairo_fill(cr);
    cairo_rectangle(cr, w * 0.34, h * 0.22, w * 0.10, h * 0.10);
    cairo_set_source_rgb(cr, 0.85, 0.65, 0.13);
    cairo_fill(cr);
    cairo_arc(cr, w * 0.78, h * 0.62, 3, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 0.20, 0.80, 0.30);
    cairo_fill(cr);
  });
}

// The received text is the pane's buffer, shown by its label (see
// build()): what the tests append is shown at once.
class TrelviewDlg::PaneSink : public TextSink {
 public:
  PaneSink(GtkTextBuffer* buffer, GtkWidget* label, GtkImage* picture)
      : buffer_(buffer), label_(label), picture_(picture) {
    // The label's new height is known only when it is laid out again: a
    // scroll asked for meanwhile is done then.
    g_signal_connect_swapped(label_, "size-allocate", G_CALLBACK(+[](PaneSink* self) {
                               if (self->scroll_pending_) self->toEnd();
                               self->scroll_pending_ = false;
                             }),
                             this);
  }

  void append(std::string_view utf8) override {
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer_, &end);
    gtk_text_buffer_insert(buffer_, &end, utf8.data(), int(utf8.size()));
  }
  void clear() override { gtk_text_buffer_set_text(buffer_, "", 0); }
  void scroll() override {
    toEnd();
    scroll_pending_ = true;
    gtk_widget_queue_resize(label_);
  }
  bool photo(const std::string& path) override {
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (!pixbuf) return false;
    gtk_image_set_from_pixbuf(picture_, pixbuf);
    g_object_unref(pixbuf);
    return true;
  }
  void placeholder() override {
    GdkPixbuf* pixbuf = trelview_picture();
    gtk_image_set_from_pixbuf(picture_, pixbuf);
    g_object_unref(pixbuf);
  }

 private:
  void toEnd() {
    GtkWidget* viewport = gtk_widget_get_parent(label_);
    GtkAdjustment* v = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(viewport));
    gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v));
  }

  GtkTextBuffer* buffer_;
  GtkWidget* label_;
  GtkImage* picture_;
  bool scroll_pending_ = false;
};

// Hands the port's messages to the window on the GUI thread.
class TrelviewDlg::PortOwner : public SerialPortOwner {
 public:
  explicit PortOwner(TrelviewDlg* dialog) : dialog_(dialog) {}
  void portMessage(uint32_t message, uint32_t wparam, int, std::stop_token stop) override {
    run_on_gui(gui_, [this, message, wparam] { dialog_->onPortMessage(message, wparam); }, stop);
  }
  void portFailure(const std::string& text, std::stop_token stop) override {
    run_on_gui(gui_, [this, text] { dialog_->showFailure(text); }, stop);
  }

 private:
  TrelviewDlg* dialog_;
  const std::thread::id gui_ = std::this_thread::get_id();  // made with the window
};

TrelviewDlg::TrelviewDlg(const CardTests::Settings& settings, serialport::PathResolver resolver)
    : owner_(new PortOwner(this)), port_(std::move(resolver)) {
  build();
  sink_ = std::make_unique<PaneSink>(pane_text_, controls_.at(1001), GTK_IMAGE(controls_.at(1022)));
  tests_ = std::make_unique<CardTests>(*sink_, settings);
}

TrelviewDlg::~TrelviewDlg() {
  port_.StopWatch();
  if (about_) gtk_widget_destroy(about_);
  gtk_widget_destroy(window_);  // may be destroyed already: the close button
  g_object_unref(window_);
  g_object_unref(pane_text_);
}

void TrelviewDlg::build() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref(window_);  // kept until the destructor, closed or not
  // Once the window is gone no byte may reach its pane.
  g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](TrelviewDlg* self) {
                             self->port_.StopWatch();
                           }),
                           this);
  use_style(window_);
  gtk_window_set_title(GTK_WINDOW(window_), kTitle);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  GList* icons = nullptr;
  icons = g_list_append(icons, trelview_icon(16));
  icons = g_list_append(icons, trelview_icon(32));
  gtk_window_set_icon_list(GTK_WINDOW(window_), icons);
  g_list_free_full(icons, g_object_unref);
  buildTitleBar();

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, px(kClientWidth), px(kClientHeight));
  gtk_container_add(GTK_CONTAINER(window_), fixed);
  for (const Control& c : kControls) {
    GtkWidget* widget = nullptr;
    GtkWidget* placed = nullptr;
    switch (c.kind) {
      case Kind::kGroup:
        widget = gtk_frame_new(c.caption);
        break;
      case Kind::kPane: {
        // A read-only text that wraps anywhere, selectable for copying. A
        // label, not a text view: only a label's layout can be told not to
        // draw a hyphen where it breaks a word, and the pane's hex blocks
        // must show no character the card did not send. The buffer keeps
        // the text; the label shows it whole after each change.
        widget = gtk_label_new("");
        gtk_widget_set_name(widget, "pane");
        gtk_label_set_selectable(GTK_LABEL(widget), TRUE);
        gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_CHAR);
        gtk_label_set_xalign(GTK_LABEL(widget), 0);
        gtk_label_set_yalign(GTK_LABEL(widget), 0);
        // Wide as the pane, however long a line: the wrap follows the pane.
        gtk_label_set_max_width_chars(GTK_LABEL(widget), 1);
        gtk_widget_set_hexpand(widget, TRUE);
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
        gtk_label_set_attributes(GTK_LABEL(widget), attributes);
        pango_attr_list_unref(attributes);
        pane_text_ = gtk_text_buffer_new(nullptr);
        g_signal_connect_object(pane_text_, "changed", G_CALLBACK(show_text), widget,
                                GConnectFlags(0));
        placed = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(placed), GTK_POLICY_NEVER,
                                       GTK_POLICY_ALWAYS);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(placed), GTK_SHADOW_IN);
        gtk_container_add(GTK_CONTAINER(placed), widget);  // inside a viewport
        gtk_style_context_add_class(gtk_widget_get_style_context(gtk_widget_get_parent(widget)),
                                    GTK_STYLE_CLASS_VIEW);
        break;
      }
      case Kind::kPicture: {
        GdkPixbuf* picture = trelview_picture();
        widget = gtk_image_new_from_pixbuf(picture);
        g_object_unref(picture);
        // A larger photo keeps the control's size: its middle is shown.
        placed = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(placed), GTK_POLICY_EXTERNAL,
                                       GTK_POLICY_EXTERNAL);
        gtk_container_add(GTK_CONTAINER(placed), widget);
        for (GtkAdjustment* a : {gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(placed)),
                                 gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(placed))}) {
          g_signal_connect(a, "changed", G_CALLBACK(+[](GtkAdjustment* adj, gpointer) {
                             gtk_adjustment_set_value(adj, (gtk_adjustment_get_upper(adj) -
                                                            gtk_adjustment_get_page_size(adj)) / 2);
                           }),
                           nullptr);
        }
        break;
      }
      case Kind::kButton:
        widget = gtk_button_new_with_label(c.caption);
        g_signal_connect(widget, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer self) {
                           static_cast<TrelviewDlg*>(self)->runButton(GPOINTER_TO_INT(
                               g_object_get_data(G_OBJECT(button), "control-id")));
                         }),
                         this);
        break;
      case Kind::kEntry:
        widget = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
        gtk_entry_set_text(GTK_ENTRY(widget), c.id == 1024 ? kKeyPreset : kTimeoutPreset);
        break;
      case Kind::kLabel:
        widget = gtk_label_new(c.caption);
        gtk_label_set_xalign(GTK_LABEL(widget), 0);
        break;
    }
    if (!placed) placed = widget;
    gtk_widget_set_size_request(placed, px(c.width), px(c.height));
    gtk_fixed_put(GTK_FIXED(fixed), placed, px(c.x), px(c.y));
    if (c.id != 0) {
      g_object_set_data(G_OBJECT(widget), "control-id", GINT_TO_POINTER(c.id));
      controls_[c.id] = widget;
    }
  }
  // Escape must not close the window: only its close button does.
  g_signal_connect(window_, "key-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer) -> gboolean {
                     return event->keyval == GDK_KEY_Escape;
                   }),
                   nullptr);
}

void TrelviewDlg::buildTitleBar() {
  GtkWidget* bar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(bar), kTitle);
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
  GtkWidget* menu = gtk_menu_new();
  about_item_ = gtk_menu_item_new_with_mnemonic("关于 Trelview(_A)...");
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), about_item_);
  gtk_widget_show_all(menu);
  g_signal_connect_swapped(about_item_, "activate", G_CALLBACK(+[](TrelviewDlg* self) {
                             self->showAbout();
                           }),
                           this);
  GtkWidget* button = gtk_menu_button_new();
  gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
  gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), button);
  gtk_window_set_titlebar(GTK_WINDOW(window_), bar);
}

GtkWidget* TrelviewDlg::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

std::string TrelviewDlg::paneText() const {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(pane_text_, &start, &end);
  gchar* text = gtk_text_buffer_get_text(pane_text_, &start, &end, FALSE);
  std::string out = text;
  g_free(text);
  return out;
}

void TrelviewDlg::runButton(int id) {
  const auto field = [this](int entry) {
    return std::string(gtk_entry_get_text(GTK_ENTRY(controls_.at(entry))));
  };
  CardTests& t = *tests_;
  switch (id) {
    case 1005: t.sectorCard(field(1024)); break;
    case 1006: t.identityCard(); break;
    case 1007: t.bankCard(); break;
    case 1008: t.socialSecurityEf05(); break;
    case 1009: t.socialSecurityEf06(); break;
    case 1011: t.healthCardEf05(); break;
    case 1012: t.healthCardEf06(); break;
    case 1013: t.clearPane(); break;
    case 1014: t.sle4442Card(); break;
    case 1015: t.eepromCard(); break;
    case 1016: t.cardType(); break;
    case 1017: t.fm11rf005Card(); break;
    case 1019: t.scanOnce(); break;
    case 1023: t.samCard(); break;
    case 1025: t.scannerSerialNumber(); break;
    case 1027: t.socialSecurityDriver(); break;
    case 1028: t.magneticStripe(field(1029)); break;
    default: break;
  }
}

void TrelviewDlg::showAbout() {
  if (about_) return;
  about_ = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(about_), "关于 Trelview");
  gtk_window_set_transient_for(GTK_WINDOW(about_), GTK_WINDOW(window_));
  gtk_window_set_modal(GTK_WINDOW(about_), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(about_), FALSE);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, px(kAboutWidth), px(kAboutHeight));
  GdkPixbuf* icon = trelview_icon(32);
  gtk_fixed_put(GTK_FIXED(fixed), gtk_image_new_from_pixbuf(icon), px(11), px(17));
  g_object_unref(icon);
  gtk_fixed_put(GTK_FIXED(fixed), gtk_label_new("Trelview 1.0 版"), px(40), px(10));
  GtkWidget* ok = gtk_button_new_with_label("确定");
  gtk_widget_set_size_request(ok, px(50), px(14));
  g_signal_connect_swapped(ok, "clicked", G_CALLBACK(gtk_widget_destroy), about_);
  gtk_fixed_put(GTK_FIXED(fixed), ok, px(178), px(7));
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(about_))), fixed);
  g_signal_connect(about_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     static_cast<TrelviewDlg*>(self)->about_ = nullptr;
                   }),
                   this);
  g_object_set_data(G_OBJECT(about_), "ok-button", ok);
  gtk_widget_show_all(about_);
}

void TrelviewDlg::onPortMessage(uint32_t message, uint32_t wparam) {
  if (message == kCommRxChar) {
    sink_->append(filter_.feed(uint8_t(wparam)));
  } else if (message == kCommDrained) {
    sink_->scroll();
  }
}

void TrelviewDlg::showFailure(const std::string& text) {
  GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL,
                                          GTK_MESSAGE_WARNING, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), "Application Error");
  g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show_all(box);
}

SerialPortOwner& TrelviewDlg::portOwnerForTest() { return *owner_; }
