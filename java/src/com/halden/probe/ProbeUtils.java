package com.halden.probe;

/** The native service's lifecycle, and the resource-request hooks of monitored requests. */
public final class ProbeUtils {
    private ProbeUtils() {}

    // Lifecycle.
    public static native boolean customServiceStart();
    public static native void customServiceShutDown();
    public static native String getBuildTime();

    // Resource requests inside monitored requests.
    public static native void beginNativeSQLRequest(String sql, String dataSource);
    public static native void endNativeSQLRequest(int unused1, int unused2);
    public static native void beginNativeJCARequest(String text, int unused);
    public static native void endNativeJCARequest(String text, int unused);
    public static native void beginNativeJMSRequest(int kind, String a, String b, String c);
    public static native void endNativeJMSRequest(int kind, String a, String b, String c);
    public static native void beginNativeJNDIRequest(String a, String b);
    public static native void endNativeJNDIRequest(String a, String b);
    public static native void beginNativeMailRequest(String a, String b);
    public static native void endNativeMailRequest(String a, String b);
    public static native void beginNativeMQRequest(String a, String b, int value);
    public static native void endNativeMQRequest(String a, String b, int value, byte[] message,
            boolean withContent);
    public static native void sendNativeMQIRecord(String a, String b, long c, byte[] ops,
            int[] values, long[] times, int n);
    public static native void sendNativeGXRRecord(String a, String b, String c, long d, int e,
            long f);
    public static native void nativeSendException(String a, String b, String c, String d);

    // Correlation tokens.
    public static native byte[] getNativeGpsToken();
    public static native void startNativeGpsInvokeRequest();
    public static native void endNativeGpsInvokeRequest();
    public static native void startNativeGpsReceiveRequest(String token);
    public static native void completeNativeGpsReceiveRequest(String text);

    // Password file.
    public static native void genPasswordFile(String user, String password, String fileName);
    public static native String getUser(String passkey, String fileName);
    public static native String getPassword(String passkey, String fileName);
}
