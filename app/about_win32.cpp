#include "app/about_system.h"

namespace morvane {

const SystemUsage& ThisSystemsUsage() {
  static constexpr SystemUsage kUsage = {
      u"  .bmp で終わる名前を変換します (大文字小文字は問いません)。\n"
      u"  \"...\" で囲んだ名前は空白や . を含めてそのまま 1 つの名前です。\n"
      u"  Converts each name ending in .bmp, in any letter case; a name in double\n"
      u"  quotes is taken whole, blanks and dots included.\n",

      u"",

      u"  インストールされたコピー: ユーザーごとの %APPDATA%\\Morvane\\Morvane.ini\n"
      u"  (最初の保存で作成)。それまでは %ProgramData%\\Morvane\\Morvane.ini があれば読みます。\n"
      u"  Installed: each user's own %APPDATA%\\Morvane\\Morvane.ini (made on the first\n"
      u"  Save); until then %ProgramData%\\Morvane\\Morvane.ini is read, when there is one.\n",

      u"  ポータブルなコピー: プログラムのフォルダに Morvane.ini があるか、そこに書き込める\n"
      u"  ときはそこ、そうでなければ %APPDATA%\\Morvane (保存時に作成)。\n"
      u"  Portable: beside the program when it has one there or its folder is writable,\n"
      u"  otherwise in %APPDATA%\\Morvane (made on the first Save).\n",

      u"詳しくは / See README.txt.\n",
  };
  return kUsage;
}

}  // namespace morvane
