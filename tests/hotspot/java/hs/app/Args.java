package hs.app;

import java.nio.charset.Charset;

// Prints every argument as its code points, so the runner sees exactly which characters arrived.
public class Args {
    public static void main(String[] args) {
        System.out.println("CHARSET " + Charset.defaultCharset().name());
        System.out.println("JNU " + System.getProperty("sun.jnu.encoding"));
        System.out.println("MAIN hs.app.Args count=" + args.length + " thread=" + Thread.currentThread().getName());
        for (int i = 0; i < args.length; i++) {
            System.out.println("ARG " + i + " [" + codePoints(args[i]) + "]");
        }
    }

    static String codePoints(String text) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < text.length(); ) {
            int cp = text.codePointAt(i);
            if (out.length() > 0) out.append(' ');
            out.append(Integer.toHexString(cp));
            i += Character.charCount(cp);
        }
        return out.toString();
    }
}
