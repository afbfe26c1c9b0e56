package com.qel.qs.webcontainer.util;

import java.util.Properties;

/** The web container's property class, as the server hooks read it from a static field. */
public class ExProperties extends Properties {
}
