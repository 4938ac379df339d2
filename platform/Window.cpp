#include "platform/Window.h"

#include "platform/Log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#if FL_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace platform {

CGPoint PointerTouches::toPoints(double x, double y) const {
    double scale = view_->contentScaleFactor() > 0 ? view_->contentScaleFactor() : 1.0;
    return CGPointMake(x / scale, y / scale);
}

void PointerTouches::deliver(TouchPhase phase, double timestamp) {
    Ref<Touch> touch = touch_; // a handler may end the touch through another path
    auto event = make<Event>(timestamp);
    event->mutableAllTouches().add(touch.get());
    TouchSet touches{touch.get()};
    switch (phase) {
    case TouchPhase::Began:
        view_->touchesBegan(touches, event.get());
        break;
    case TouchPhase::Moved:
        view_->touchesMoved(touches, event.get());
        break;
    case TouchPhase::Ended:
        view_->touchesEnded(touches, event.get());
        break;
    default:
        view_->touchesCancelled(touches, event.get());
        break;
    }
}

void PointerTouches::press(double x, double y, double timestamp) {
    // A touch still live here lost its release somewhere; it never moved to this point.
    cancel(timestamp);
    if (x < 0 || y < 0 || x >= view_->layer()->pixelsWide() || y >= view_->layer()->pixelsHigh()) return;
    touch_ = make<Touch>(view_, toPoints(x, y), timestamp);
    deliver(TouchPhase::Began, timestamp);
}

void PointerTouches::drag(double x, double y, double timestamp) {
    if (!touch_) return;
    touch_->update(toPoints(x, y), timestamp, TouchPhase::Moved);
    deliver(TouchPhase::Moved, timestamp);
}

void PointerTouches::release(double x, double y, double timestamp) {
    if (!touch_) return;
    touch_->update(toPoints(x, y), timestamp, TouchPhase::Ended);
    deliver(TouchPhase::Ended, timestamp);
    touch_ = nullptr;
}

void PointerTouches::cancel(double timestamp) {
    if (!touch_) return;
    touch_->setPhase(TouchPhase::Cancelled);
    deliver(TouchPhase::Cancelled, timestamp);
    touch_ = nullptr;
}

#if FL_HAVE_X11

namespace {

// What the X error handler needs of an open window.
struct Connection {
    Display* display = nullptr;
    ::Window window = 0;
    bool destroyed = false;    // the server no longer knows the window
    bool goneReported = false; // an error said so, and was logged
    // The connection itself is gone (killed by another client, or the server went away): Xlib
    // takes no more requests on it. Set from whichever thread's Xlib call found it.
    std::atomic<bool> lost = false;
};

// Xlib's error handlers are process-wide and by default end the process. Ours report errors
// on the windows' own connections and hand every other connection's errors to the handlers
// they replaced.
std::mutex connectionsMutex;
std::vector<Connection*> connections;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIOErrorHandler = nullptr;
bool handlersInstalled = false;

// The window connection of `display` (null for any other connection), and the handler that
// `previous` held, read together.
template <typename Handler>
std::pair<Connection*, Handler> lookUp(Display* display, const Handler& previous) {
    std::lock_guard lock(connectionsMutex);
    for (Connection* c : connections)
        if (c->display == display) return {c, previous};
    return {nullptr, previous};
}

int reportError(Display* display, XErrorEvent* error) {
    auto [owner, previous] = lookUp(display, previousErrorHandler);
    if (!owner) return previous ? previous(display, error) : 0;
    bool gone = error->resourceid == owner->window &&
                (error->error_code == BadWindow || error->error_code == BadDrawable);
    // A large frame goes out as several requests, each failing alike: one line says it.
    if (gone && owner->goneReported) return 0;
    char text[128] = "", request[64] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    XGetErrorDatabaseText(display, "XRequest", std::to_string(error->request_code).c_str(), "", request,
                          sizeof request);
    // An extension's request has no name there: its numbers then.
    std::string where =
        *request ? std::string(request) : format("request %d.%d", error->request_code, error->minor_code);
    log(format("Window: X error %s in %s on resource 0x%lx", text, where, error->resourceid));
    if (gone) owner->destroyed = owner->goneReported = true;
    return 0;
}

void markLost(Connection* connection, Display* display) {
    if (!connection->lost.exchange(true))
        log(format("Window: the connection to X display %s was lost; the window is closed",
                   DisplayString(display)));
}

// A window's connection that breaks is not the end of the process: the window closes instead.
// Returning lets Xlib go on to the connection's exit handler.
int reportLostConnection(Display* display) {
    auto [owner, previous] = lookUp(display, previousIOErrorHandler);
    if (!owner) return previous ? previous(display) : 0;
    markLost(owner, display);
    return 0;
}

// Called instead of exit() on a window's connection; Xlib then returns to its caller with the
// connection marked dead. Xlib calls it with the display locked to the thread that found the
// loss, as by XLockDisplay, and never unlocks it: unlocked here, another thread of the window
// (its events, its close) can still reach it.
void endConnection(Display* display, void* connection) {
    markLost(static_cast<Connection*>(connection), display);
    XUnlockDisplay(display);
}

void addConnection(Connection* connection) {
    XSetIOErrorExitHandler(connection->display, endConnection, connection);
    std::lock_guard lock(connectionsMutex);
    if (!handlersInstalled) {
        previousErrorHandler = XSetErrorHandler(reportError);
        previousIOErrorHandler = XSetIOErrorHandler(reportLostConnection);
    }
    handlersInstalled = true;
    connections.push_back(connection);
}

void removeConnection(Connection* connection) {
    std::lock_guard lock(connectionsMutex);
    connections.erase(std::remove(connections.begin(), connections.end(), connection), connections.end());
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct Window::Impl {
    Display* display = nullptr;
    ::Window window = 0;
    GC gc = nullptr;
    Atom deleteMessage = 0;
    View* view = nullptr;
    PointerTouches pointer{nullptr};
    std::vector<std::uint8_t> bgrx; // the frame in the server's 32-bit layout
    Connection connection;
    bool open = true;

    void close() {
        pointer.cancel(now());
        open = false;
    }
};

std::unique_ptr<Window> Window::open(View* view, const std::string& title) {
    if (!view) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    int screen = DefaultScreen(display);
    if (DefaultDepth(display, screen) < 24) {
        XCloseDisplay(display);
        return nullptr;
    }
    unsigned width = static_cast<unsigned>(std::max<GLsizei>(1, view->layer()->pixelsWide()));
    unsigned height = static_cast<unsigned>(std::max<GLsizei>(1, view->layer()->pixelsHigh()));
    std::unique_ptr<Window> result(new Window());
    auto impl = std::make_unique<Impl>();
    impl->display = display;
    impl->view = view;
    impl->pointer = PointerTouches(view);
    impl->connection.display = display;
    addConnection(&impl->connection);
    impl->window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                       BlackPixel(display, screen), BlackPixel(display, screen));
    impl->connection.window = impl->window;
    XStoreName(display, impl->window, title.c_str());
    // The picture does not scale, so the window asks to keep its size.
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = static_cast<int>(width);
        hints->min_height = hints->max_height = static_cast<int>(height);
        XSetWMNormalHints(display, impl->window, hints);
        XFree(hints);
    }
    XSelectInput(display, impl->window,
                 ExposureMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask |
                     StructureNotifyMask | LeaveWindowMask | FocusChangeMask);
    impl->deleteMessage = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, impl->window, &impl->deleteMessage, 1);
    impl->gc = XCreateGC(display, impl->window, 0, nullptr);
    XMapWindow(display, impl->window);
    XFlush(display);
    result->impl_ = std::move(impl);
    Window* self = result.get();
    view->layer()->setPresentObserver([self](const Drawable& layer) { self->show(layer.presentedFrame()); });
    return result;
}

Window::~Window() {
    if (!impl_) return;
    impl_->view->layer()->setPresentObserver({});
    // On a lost connection Xlib sends nothing more: these free only what the client holds.
    XFreeGC(impl_->display, impl_->gc);
    if (!impl_->connection.destroyed && !impl_->connection.lost)
        XDestroyWindow(impl_->display, impl_->window);
    XCloseDisplay(impl_->display); // reports what is still in flight through the handler
    removeConnection(&impl_->connection);
}

bool Window::processEvents() {
    Impl& w = *impl_;
    while (w.open && !w.connection.lost && XPending(w.display)) {
        XEvent event;
        XNextEvent(w.display, &event);
        switch (event.type) {
        case ButtonPress:
            if (event.xbutton.button == Button1) w.pointer.press(event.xbutton.x, event.xbutton.y, now());
            break;
        case MotionNotify:
            w.pointer.drag(event.xmotion.x, event.xmotion.y, now());
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) w.pointer.release(event.xbutton.x, event.xbutton.y, now());
            break;
        // Where the release can no longer reach the window, the touch is cancelled rather than
        // left to end at the next click's point.
        case UnmapNotify:
            w.pointer.cancel(now());
            break;
        case LeaveNotify:
            // Grab modes only: dragging out of the window keeps the touch, as on a screen.
            if (event.xcrossing.mode == NotifyGrab || event.xcrossing.mode == NotifyUngrab)
                w.pointer.cancel(now());
            break;
        case FocusOut:
            if ((event.xfocus.mode == NotifyNormal || event.xfocus.mode == NotifyWhileGrabbed) &&
                event.xfocus.detail != NotifyInferior)
                w.pointer.cancel(now());
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == w.window) w.connection.destroyed = true;
            break;
        case ClientMessage:
            if (static_cast<Atom>(event.xclient.data.l[0]) == w.deleteMessage) w.close();
            break;
        case Expose:
            show(w.view->layer()->presentedFrame());
            break;
        default:
            break;
        }
    }
    // Destroyed by another client or the window manager, or its connection lost: closed, as if
    // the user had closed it.
    if (w.open && (w.connection.destroyed || w.connection.lost)) w.close();
    return w.open;
}

void Window::show(const PixelBuffer& frame) {
    Impl& w = *impl_;
    if (!w.open || w.connection.destroyed || w.connection.lost || frame.empty()) return;
    // RGBA bytes to the server's 0x00RRGGBB pixels (little-endian B, G, R, X).
    w.bgrx.resize(frame.rgba.size());
    for (std::size_t i = 0; i + 3 < frame.rgba.size(); i += 4) {
        w.bgrx[i] = frame.rgba[i + 2];
        w.bgrx[i + 1] = frame.rgba[i + 1];
        w.bgrx[i + 2] = frame.rgba[i];
        w.bgrx[i + 3] = 0;
    }
    int screen = DefaultScreen(w.display);
    XImage* image = XCreateImage(w.display, DefaultVisual(w.display, screen), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(w.bgrx.data()), static_cast<unsigned>(frame.width),
                                 static_cast<unsigned>(frame.height), 32, frame.width * 4);
    if (!image) return;
    XPutImage(w.display, w.window, w.gc, image, 0, 0, 0, 0, static_cast<unsigned>(frame.width),
              static_cast<unsigned>(frame.height));
    image->data = nullptr; // the buffer is ours
    XDestroyImage(image);
    XFlush(w.display);
}

#else

struct Window::Impl {};
std::unique_ptr<Window> Window::open(View*, const std::string&) {
    return nullptr;
}
Window::~Window() = default;
bool Window::processEvents() {
    return false;
}
void Window::show(const PixelBuffer&) {}

#endif

} // namespace platform
