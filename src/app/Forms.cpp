#include "app/state/Forms.h"

#include "app/state/Form1.h"
#include "fileops/Form5.h"
#include "help/Form3.h"
#include "help/Form4.h"
#include "viewer/Form2.h"

#include <QPointer>

namespace pel {
namespace {
QPointer<Form1> g_form1;
QPointer<Form2> g_form2;
QPointer<Form3> g_form3;
QPointer<Form4> g_form4;
QPointer<Form5> g_form5;

template <class F>
bool loaded(const QPointer<F> &p)
{
    return p && !p->isUnloaded();
}
}  // namespace

Form1 &Forms::form1()
{
    if (!loaded(g_form1)) {
        g_form1 = new Form1();
        g_form1->Form_Load();
    }
    return *g_form1;
}

Form2 &Forms::form2()
{
    if (!loaded(g_form2)) {
        g_form2 = new Form2();
        g_form2->Form_Load();
    }
    return *g_form2;
}

Form3 &Forms::form3()
{
    if (!loaded(g_form3)) {
        g_form3 = new Form3();
        g_form3->Form_Load();
    }
    return *g_form3;
}

Form4 &Forms::form4()
{
    if (!loaded(g_form4)) {
        g_form4 = new Form4();
        g_form4->Form_Load();
    }
    return *g_form4;
}

Form5 &Forms::form5()
{
    if (!loaded(g_form5)) {
        g_form5 = new Form5();
        g_form5->Form_Load();
    }
    return *g_form5;
}

bool Forms::isLoaded1() { return loaded(g_form1); }
bool Forms::isLoaded2() { return loaded(g_form2); }
bool Forms::isLoaded3() { return loaded(g_form3); }
bool Forms::isLoaded4() { return loaded(g_form4); }
bool Forms::isLoaded5() { return loaded(g_form5); }

void Forms::unload1()
{
    if (loaded(g_form1))
        g_form1->Unload();
}

void Forms::unload2()
{
    if (loaded(g_form2))
        g_form2->Unload();
}

void Forms::unload3()
{
    if (loaded(g_form3))
        g_form3->Unload();
}

void Forms::unload4()
{
    if (loaded(g_form4))
        g_form4->Unload();
}

void Forms::unload5()
{
    if (loaded(g_form5))
        g_form5->Unload();
}

void Forms::unloadAll()
{
    unload5();
    unload4();
    unload3();
    unload2();
    unload1();
    for (auto *p : {static_cast<QWidget *>(g_form1.data()), static_cast<QWidget *>(g_form2.data()),
                    static_cast<QWidget *>(g_form3.data()), static_cast<QWidget *>(g_form4.data()),
                    static_cast<QWidget *>(g_form5.data())})
        delete p;
}

}  // namespace pel
