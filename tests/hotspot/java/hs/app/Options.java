package hs.app;

import java.lang.management.ManagementFactory;

// Reports the options the VM was created with, in the order it received them.
public class Options {
    public static void main(String[] args) {
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            System.out.println("VMARG " + option);
        }
        System.out.println("PROP q.dup=" + System.getProperty("q.dup"));
        System.out.println("PROP java.class.path=" + System.getProperty("java.class.path"));
    }
}
