package com.halden.jvmtest.support;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small JSON reader for the tests: objects become maps, arrays lists,
 * numbers Long (integers) or Double, and true, false, null what they say.
 */
public final class Json {
    private final String text;
    private int at;

    private Json(String text) { this.text = text; }

    public static Object parse(String text) {
        Json j = new Json(text);
        Object v = j.value();
        j.space();
        if (j.at != text.length()) throw j.error("trailing text");
        return v;
    }

    @SuppressWarnings("unchecked")
    public static Map<String, Object> object(String text) { return (Map<String, Object>) parse(text); }

    private IllegalArgumentException error(String what) {
        return new IllegalArgumentException(what + " at " + at + " of " + text);
    }

    private void space() {
        while (at < text.length() && Character.isWhitespace(text.charAt(at))) at++;
    }

    private boolean take(char c) {
        space();
        if (at < text.length() && text.charAt(at) == c) {
            at++;
            return true;
        }
        return false;
    }

    private Object value() {
        space();
        if (at >= text.length()) throw error("value expected");
        char c = text.charAt(at);
        if (c == '{') {
            at++;
            Map<String, Object> map = new LinkedHashMap<>();
            if (take('}')) return map;
            do {
                space();
                String key = string();
                if (!take(':')) throw error("':' expected");
                map.put(key, value());
            } while (take(','));
            if (!take('}')) throw error("'}' expected");
            return map;
        }
        if (c == '[') {
            at++;
            List<Object> list = new ArrayList<>();
            if (take(']')) return list;
            do list.add(value()); while (take(','));
            if (!take(']')) throw error("']' expected");
            return list;
        }
        if (c == '"') return string();
        for (String word : new String[] {"true", "false", "null"}) {
            if (text.startsWith(word, at)) {
                at += word.length();
                return word.equals("null") ? null : Boolean.valueOf(word);
            }
        }
        int start = at;
        while (at < text.length() && "+-0123456789.eE".indexOf(text.charAt(at)) >= 0) at++;
        String number = text.substring(start, at);
        if (number.isEmpty()) throw error("value expected");
        return number.matches("-?\\d+") ? (Object) Long.valueOf(number) : Double.valueOf(number);
    }

    private String string() {
        if (at >= text.length() || text.charAt(at) != '"') throw error("string expected");
        StringBuilder out = new StringBuilder();
        for (at++; at < text.length(); at++) {
            char c = text.charAt(at);
            if (c == '"') {
                at++;
                return out.toString();
            }
            if (c == '\\') {
                char e = text.charAt(++at);
                switch (e) {
                    case 'n': out.append('\n'); break;
                    case 't': out.append('\t'); break;
                    case 'r': out.append('\r'); break;
                    case 'b': out.append('\b'); break;
                    case 'f': out.append('\f'); break;
                    case 'u':
                        out.append((char) Integer.parseInt(text.substring(at + 1, at + 5), 16));
                        at += 4;
                        break;
                    default: out.append(e);
                }
            } else {
                out.append(c);
            }
        }
        throw error("unterminated string");
    }
}
