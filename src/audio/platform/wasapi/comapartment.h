#pragma once

// The calling thread's membership of COM's multithreaded apartment for the object's
// lifetime. A thread that already lives in another apartment (a Qt GUI thread is in a
// single-threaded one) keeps it, and then nothing is undone at the end.
class ComApartment
{
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

    // Joins for the thread until leave(); calls nest, innermost first.
    static void enter();
    static void leave();

private:
    // Initialises COM for the thread; true when that must be undone with CoUninitialize.
    static bool join();

    bool joined;
};
