// Pelloran's version, for the version block and for the code.
#pragma once

#define PELLORAN_VERSION_NUMBERS   1,0,0,7
#define PELLORAN_VERSION_TEXT      "1.0.0.7"
#define PELLORAN_COPYRIGHT_TEXT    "Copyright (C) 2026 Tolvek Computer Inc."
