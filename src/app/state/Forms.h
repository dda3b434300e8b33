#pragma once
// Each window is created on first use and created afresh after it was unloaded;
// these accessors are the one way the windows reach each other.
namespace pel {

class Form1;
class Form2;
class Form3;
class Form4;
class Form5;

struct Forms {
    // Creates (and loads) the window when it is not loaded.
    static Form1 &form1();
    static Form2 &form2();
    static Form3 &form3();
    static Form4 &form4();
    static Form5 &form5();   // the rename dialog, created afresh for each rename
    static bool isLoaded1();
    static bool isLoaded2();
    static bool isLoaded3();
    static bool isLoaded4();
    static bool isLoaded5();
    // Unloads the window if it is loaded (its query-unload handler runs).
    static void unload1();
    static void unload2();
    static void unload3();
    static void unload4();
    static void unload5();
    // Tests: drop every window at once.
    static void unloadAll();
};

}  // namespace pel
