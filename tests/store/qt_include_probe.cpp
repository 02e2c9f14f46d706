// Compiled with the core's own flags: it must fail, because the core never sees Qt's
// headers.
#include <QString>
#include "store/mod_ini.h"
int main() { return QString().size(); }
