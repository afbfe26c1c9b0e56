package com.halden.agent;

import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import java.net.HttpURLConnection;

/**
 * What instrumented code calls: servlet requests, JDBC statements and
 * outgoing HTTP calls, turned into the probe's request natives. Every hook
 * is entered and left in pairs (the woven code guarantees it, exceptions
 * included) and keeps its per-thread bookkeeping here. A hook never throws:
 * whatever goes wrong inside costs the record, never the application's call.
 *
 * <p>This class lives on the bootstrap class path, so code in every class
 * loader reaches it; it therefore names no type of the servlet or JDBC APIs.
 */
public final class Hooks {
    /** The request header that carries a correlation token, as eight hex digits. */
    public static final String TOKEN_HEADER = "X-Halden-Token";

    private Hooks() {}

    /** Off until the probe has started; off for good when the natives cannot be reached. */
    private static volatile boolean active;

    static void activate() {
        active = true;
    }

    static void deactivate() {
        active = false;
    }

    /** Per-thread bookkeeping of the open instrumented frames. */
    private static final class State {
        // Servlet frames: the instance and request they were entered with,
        // whether they reported a request, and what the report needs at the end.
        Object[] servlets = new Object[4];
        Object[] requests = new Object[4];
        String[] names = new String[4];
        String[] applications = new String[4];
        String[] urls = new String[4];
        String[] tokens = new String[4];
        boolean[] reported = new boolean[4];
        int frames;
        int reportedFrames;
        // Statement executions open on the thread; only the outermost reports.
        int sqlDepth;
        // Outgoing-call frames, one bit each: set when the frame opened an invoke.
        long invokeBits;
        int invokeFrames;

        void grow() {
            int n = servlets.length * 2;
            servlets = java.util.Arrays.copyOf(servlets, n);
            requests = java.util.Arrays.copyOf(requests, n);
            names = java.util.Arrays.copyOf(names, n);
            applications = java.util.Arrays.copyOf(applications, n);
            urls = java.util.Arrays.copyOf(urls, n);
            tokens = java.util.Arrays.copyOf(tokens, n);
            reported = java.util.Arrays.copyOf(reported, n);
        }
    }

    private static final ThreadLocal<State> STATE = ThreadLocal.withInitial(State::new);

    private static void failed(Throwable t) {
        if (t instanceof LinkageError) {
            // The natives are gone (or never were): stop calling them.
            active = false;
        }
        AgentLog.once("hook", "a request hook failed and is skipped: " + t);
    }

    // --- servlets ---------------------------------------------------------

    /**
     * Entry of HttpServlet.service(request, response). A call on the same
     * servlet with the same request as the frame around it (an override that
     * calls super.service) continues that frame's request and reports nothing.
     */
    public static void servletEnter(Object servlet, Object request, String uri, String query,
            String contextPath, String method, String token) {
        try {
            State s = STATE.get();
            int top = s.frames;
            if (top == s.servlets.length) s.grow();
            boolean report = active && !(top > 0 && s.servlets[top - 1] == servlet
                    && s.requests[top - 1] == request);
            s.servlets[top] = servlet;
            s.requests[top] = request;
            s.reported[top] = report;
            s.tokens[top] = null;
            s.frames = top + 1;
            if (!report) return;
            String name = uri == null ? "" : uri;
            String application = contextPath == null || contextPath.isEmpty() ? "/" : contextPath;
            String url = query == null ? name : name + "?" + query;
            s.names[top] = name;
            s.applications[top] = application;
            s.urls[top] = url;
            s.reportedFrames++;
            ThreadManager.startNativeHttpRequest(0, name, application, url,
                    method == null ? "" : method);
            // Only the outermost request takes over a token sent by the caller.
            if (s.reportedFrames == 1 && isToken(token)) {
                s.tokens[top] = token;
                ProbeUtils.startNativeGpsReceiveRequest(token);
            }
        } catch (Throwable t) {
            failed(t);
        }
    }

    /** Normal return of service; status is the response's status (0 when unknown). */
    public static void servletExit(int status) {
        servletEnd(status >= 500);
    }

    /** service threw; the throwable stays on its way. */
    public static void servletThrew(Throwable thrown) {
        servletEnd(true);
    }

    private static void servletEnd(boolean error) {
        try {
            State s = STATE.get();
            if (s.frames == 0) return;
            int top = --s.frames;
            s.servlets[top] = null;
            s.requests[top] = null;
            if (!s.reported[top]) return;
            s.reportedFrames--;
            String token = s.tokens[top];
            s.tokens[top] = null;
            if (!active) return;
            if (token != null) ProbeUtils.completeNativeGpsReceiveRequest(token);
            if (error) {
                ThreadManager.errorNativeHttpRequest(s.names[top], s.applications[top],
                        s.urls[top]);
            } else {
                ThreadManager.finishNativeHttpRequest(s.names[top], 0, 0);
            }
        } catch (Throwable t) {
            failed(t);
        }
    }

    static boolean isToken(String text) {
        if (text == null || text.length() != 8) return false;
        for (int i = 0; i < 8; i++) {
            if (Character.digit(text.charAt(i), 16) < 0) return false;
        }
        return true;
    }

    // --- JDBC -------------------------------------------------------------

    /** Entry of a statement's execute method with its SQL text (null when unknown). */
    public static void sqlEnter(String sql) {
        try {
            State s = STATE.get();
            // A driver's execute that calls another, or a pool's statement
            // that calls the driver's: one statement, one record pair.
            if (s.sqlDepth++ == 0 && active) {
                ProbeUtils.beginNativeSQLRequest(sql == null ? "" : sql, "");
            }
        } catch (Throwable t) {
            failed(t);
        }
    }

    /** Exit of a statement's execute method, normal or by an exception. */
    public static void sqlExit() {
        try {
            State s = STATE.get();
            if (s.sqlDepth > 0 && --s.sqlDepth == 0 && active) {
                ProbeUtils.endNativeSQLRequest(0, 0);
            }
        } catch (Throwable t) {
            failed(t);
        }
    }

    /** Return of Connection.prepareStatement/prepareCall: the statement keeps its text. */
    public static void prepared(Object statement, String sql) {
        if (statement instanceof PreparedText) {
            try {
                ((PreparedText) statement).halden$setSql(sql);
            } catch (Throwable t) {
                failed(t);
            }
        }
    }

    // --- outgoing HTTP ----------------------------------------------------

    /**
     * Entry of HttpURLConnection.connect, getOutputStream or getInputStream.
     * Inside a monitored request, the first of them on a connection that is
     * not yet connected opens an invoke and sends the thread's token along.
     */
    public static void invokeEnter(HttpURLConnection connection) {
        try {
            State s = STATE.get();
            int frame = s.invokeFrames++;
            if (frame >= 64 || !active || s.reportedFrames == 0) return;
            try {
                // Throws once connected: the request has gone already.
                if (connection.getRequestProperty(TOKEN_HEADER) != null) return;
            } catch (IllegalStateException connected) {
                return;
            }
            ProbeUtils.startNativeGpsInvokeRequest();
            s.invokeBits |= 1L << frame;
            String token = hex(ProbeUtils.getNativeGpsToken());
            try {
                connection.setRequestProperty(TOKEN_HEADER, token);
            } catch (IllegalStateException connected) {
                // Raced with a connect elsewhere: the invoke is still recorded.
            }
        } catch (Throwable t) {
            failed(t);
        }
    }

    /** Exit of the same methods, normal or by an exception. */
    public static void invokeExit() {
        try {
            State s = STATE.get();
            if (s.invokeFrames == 0) return;
            int frame = --s.invokeFrames;
            if (frame >= 64) return;
            long bit = 1L << frame;
            if ((s.invokeBits & bit) == 0) return;
            s.invokeBits &= ~bit;
            if (active) ProbeUtils.endNativeGpsInvokeRequest();
        } catch (Throwable t) {
            failed(t);
        }
    }

    static String hex(byte[] bytes) {
        char[] out = new char[bytes.length * 2];
        for (int i = 0; i < bytes.length; i++) {
            out[2 * i] = Character.forDigit((bytes[i] >> 4) & 0xf, 16);
            out[2 * i + 1] = Character.forDigit(bytes[i] & 0xf, 16);
        }
        return new String(out);
    }
}
