package com.halden.qsportal;

/** Hooks of the portal server: figures of its components, and portal pages and portlets. */
public final class PortalUtils {
    private PortalUtils() {}

    public static native void sendLoginData(int count, long total);
    public static native void sendAccessControlData(int count, long total);
    public static native void sendCredentialVaultData(int count1, long total1, int count2,
            long total2, int count3, long total3, int count4, long total4, int count5,
            long total5);
    public static native void sendContentAccessData(int count1, long total1, int count2,
            long total2, int count3, long total3, int count4, long total4);
    public static native void sendGatewayServletData(int count, long total);
    public static native void sendModelBuildingData(int count, long total);
    public static native void sendPageLoadingData(int count, long total);

    public static native void startPortalPageRequest(String requestName, String applicationName,
            String url, String detail);
    public static native void endPortalPageRequest(String requestName);
    public static native void startPortletRequest(String requestName, String applicationName,
            String url, String detail);
    public static native void endPortletRequest(String requestName);

    /** The calling thread's request depth. */
    public static native int getServletDepth();
}
