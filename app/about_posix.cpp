#include "app/about_system.h"

namespace morvane {

const SystemUsage& ThisSystemsUsage() {
  static constexpr SystemUsage kUsage = {
      u"  .bmp で終わる名前を変換します (大文字小文字は問いません)。\n"
      u"  引数 1 つが名前 1 つです。\n"
      u"  Converts each name ending in .bmp, in any letter case;\n"
      u"  each argument is one name.\n",

      u"  XDG_CONFIG_HOME    ユーザーの設定フォルダを置くフォルダ (既定 ~/.config)\n"
      u"                     the folder of the user's settings folder (default ~/.config)\n"
      u"  XDG_CONFIG_DIRS    全体の既定の設定を探すフォルダ (既定 /etc/xdg)\n"
      u"                     where system-wide defaults are looked for (default /etc/xdg)\n"
      u"  DISPLAY, WAYLAND_DISPLAY\n"
      u"                     どちらもなければ結果を端末に出し、ウィンドウは開きません\n"
      u"                     without either, the summary is printed and no window opens\n",

      u"  インストールされたコピー: ユーザーごとの ~/.config/Morvane/Morvane.ini\n"
      u"  (最初の保存で作成)。それまでは /etc/xdg/Morvane/Morvane.ini があれば読みます。\n"
      u"  Installed: each user's own ~/.config/Morvane/Morvane.ini (made on the first\n"
      u"  Save); until then /etc/xdg/Morvane/Morvane.ini is read, when there is one.\n",

      u"  ポータブルなコピー: プログラムのフォルダに Morvane.ini があるか、そこに書き込める\n"
      u"  ときはそこ、そうでなければユーザーの設定フォルダ (保存時に作成)。\n"
      u"  Portable: beside the program when it has one there or its folder is writable,\n"
      u"  otherwise in the user's own settings folder (made on the first Save).\n",

      u"詳しくは / See morvane(1).\n",
  };
  return kUsage;
}

}  // namespace morvane
