package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.command.CommandAgent;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbePFX;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import com.halden.qs5.QASServer;
import com.halden.qs5.pmi.HaldenBeanModule;
import com.halden.qsportal.PortalUtils;
import com.qel.qs.webcontainer.util.ExProperties;
import java.util.Hashtable;

/**
 * Correlation tokens and the application-server hooks, run by the launcher
 * once the probe is enabled: the token mask from tw.mask (default "1010"),
 * two requests with outgoing invokes, a receive, a portal page with a portlet,
 * the single portal records, the bean module's finish and the static-field
 * reads. Reports what the Java side saw as checks.
 */
public final class TokensWorkload implements Launcher.Workload {
    /** Server classes holding the web container's properties and the data sources. */
    public static final class WebContainer { static ExProperties _props = new ExProperties(); }
    public static final class Server { static Hashtable<String, Object> dataSources = new Hashtable<>(); }

    static String hex(byte[] bytes) {
        StringBuilder out = new StringBuilder();
        for (byte b : bytes) out.append(String.format("%02x", b & 0xff));
        return out.toString();
    }

    @Override
    public void run() {
        ProbeController.setupGps(System.getProperty("tw.mask", "1010"));

        ThreadManager.startNativeHttpRequest(0, "/t/1", "TokenTest", "/t/1", "");
        ProbeUtils.startNativeGpsInvokeRequest();
        report("token1", hex(ProbeUtils.getNativeGpsToken()));
        ProbeUtils.endNativeGpsInvokeRequest();
        CommandAgent.startNativeGpsInvokeRequest();
        report("token2", hex(CommandAgent.getNativeGpsToken()));
        CommandAgent.endNativeGpsInvokeRequest();
        report("servletDepth", PortalUtils.getServletDepth());
        ThreadManager.finishNativeHttpRequest("/t/1", 0, 0);
        report("tokenAfter", hex(ProbeUtils.getNativeGpsToken()));

        ThreadManager.startNativeHttpRequest(0, "/t/2", "TokenTest", "/t/2", "");
        ProbeUtils.startNativeGpsInvokeRequest();
        report("token3", hex(ProbeUtils.getNativeGpsToken()));
        ProbeUtils.endNativeGpsInvokeRequest();
        ThreadManager.finishNativeHttpRequest("/t/2", 0, 0);

        CommandAgent.startNativeGpsReceiveRequest("WXYZ");
        report("received", hex(CommandAgent.getNativeGpsToken()));
        CommandAgent.completeNativeGpsReceiveRequest("done");

        PortalUtils.startPortalPageRequest("page", "portal", "/page", "pd");
        PortalUtils.startPortletRequest("let", "portal", "/page/let", "ld");
        PortalUtils.endPortletRequest("let");
        PortalUtils.endPortalPageRequest("page");
        PortalUtils.sendLoginData(7, 1234567890123L);
        PortalUtils.sendAccessControlData(-1, -2);
        PortalUtils.sendCredentialVaultData(1, 11, 2, 22, 3, 33, 4, 44, 5, 55);
        PortalUtils.sendContentAccessData(6, 66, 7, 77, 8, 88, 9, 99);
        PortalUtils.sendGatewayServletData(34, 340);
        PortalUtils.sendModelBuildingData(35, 350);
        PortalUtils.sendPageLoadingData(36, 360);

        ThreadManager.beginNativeEJBRequest("beans", "bean", "/bean");
        HaldenBeanModule.finishBeanRequest("beans", "bean", "/bean");

        Object props = WebContainer._props;
        report("props5", com.halden.qs5.ProbeService.getSystemProperties(WebContainer.class) == props);
        report("props6", com.halden.qs6.ProbeService.getSystemProperties(WebContainer.class) == props);
        report("propsMissing", com.halden.qs6.ProbeService.getSystemProperties(Server.class));
        report("propsNull", com.halden.qs5.ProbeService.getSystemProperties(null));
        report("dataSources", QASServer.getDataSources(Server.class) == Server.dataSources);
        report("dataSourcesMissing", QASServer.getDataSources(WebContainer.class));
        report("pfx", ProbePFX.initializeProbe());
    }
}
