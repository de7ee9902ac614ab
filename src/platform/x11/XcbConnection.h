#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QString>

#include <xcb/xcb.h>

#include <memory>
#include <mutex>

namespace snipjar {

// One connection to the X server, closed when this object goes. xcb connections may be used from
// several threads; the atom caches here are guarded so that any thread may ask for atoms.
class XcbConnection {
public:
    // Opens the display named by $DISPLAY (or the given name); none when no display can be opened.
    static std::unique_ptr<XcbConnection> open(const char* displayName = nullptr);
    // Why no display could be opened, as the command line says it: "cannot open the X display :1"
    // or "(DISPLAY is not set)".
    static QString unavailableMessage();

    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    int fileDescriptor() const { return xcb_get_file_descriptor(connection_); }
    // False once the server has gone away (the connection then stays unusable).
    bool isHealthy() const { return xcb_connection_has_error(connection_) == 0; }
    void flush() { xcb_flush(connection_); }

    // The atom for a name, interned on first use (one round trip) and cached.
    xcb_atom_t atom(const QByteArray& name);
    // Several atoms in one round trip, in the order of the names.
    QList<xcb_atom_t> atoms(const QByteArrayList& names);
    // The name of an atom (cached); empty when the atom is unknown.
    QByteArray atomName(xcb_atom_t atom);
    // Names of several atoms in one round trip.
    QByteArrayList atomNames(const QList<xcb_atom_t>& atoms);

    // A round trip to the server: every request sent before has been processed when this returns.
    void sync();

    // Tells the client that asked for a selection conversion that its answer is on `property`, or
    // that it is refused (None); flushes.
    void answerSelectionRequest(const xcb_selection_request_event_t& request, xcb_atom_t property);

private:
    XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    std::mutex cacheMutex_;
    QHash<QByteArray, xcb_atom_t> atomsByName_;
    QHash<xcb_atom_t, QByteArray> namesByAtom_;
};

} // namespace snipjar
