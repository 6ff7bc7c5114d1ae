#pragma once

// Identifiers of the main window and its controls.
enum ResourceId : int {
    IDC_STATIC = -1,
    IDOK = 1,
    IDC_SERVER = 1000,
    IDC_USER = 1001,
    IDC_PASSWORD = 1002,
    IDC_FILE_LIST = 1003,
    IDC_UPLOAD = 1005,
    IDC_DOWNLOAD = 1006,
    IDC_EXIT = 1007,
    IDC_REFRESH = 1008,
};
