#pragma once

class CtolmiDlg;

// The application object: prepares the platform, runs the main window, and ends the program
// when the window closes.
class CtolmiApp {
public:
    // Runs the main window modally; returns false, as there is nothing left to run afterwards.
    bool InitInstance();

    // The program's name from its arguments; the default name when there is none (a start
    // with an empty argument vector, which execve allows).
    static char* ProgramName(int argc, char* argv[]);

    CtolmiDlg* m_pMainWnd = nullptr;
};

extern CtolmiApp theApp;
