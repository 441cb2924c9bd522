// Trelview: one window of card tests against the first USB reader.
#include <gtk/gtk.h>

#include "demo/trelviewdlg.h"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  // The identity-card photo is kept in the user's cache folder.
  gchar* folder = g_build_filename(g_get_user_cache_dir(), "trelview", nullptr);
  g_mkdir_with_parents(folder, 0700);
  gchar* photo = g_build_filename(folder, "me.bmp", nullptr);
  CardTests::Settings settings;
  settings.photo_path = photo;
  g_free(photo);
  g_free(folder);

  TrelviewDlg dialog(settings);
  g_signal_connect(dialog.window(), "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(dialog.window());
  gtk_main();
  return 0;
}
