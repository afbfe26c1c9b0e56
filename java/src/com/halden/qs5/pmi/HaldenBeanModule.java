package com.halden.qs5.pmi;

/** The performance-monitoring bean module's hook. */
public final class HaldenBeanModule {
    private HaldenBeanModule() {}

    /** Ends an EJB request as ThreadManager.endNativeEJBRequest does. */
    public static native void finishBeanRequest(String applicationName, String requestName,
            String url);
}
