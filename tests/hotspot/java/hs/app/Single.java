package hs.app;

import java.io.File;
import java.io.IOException;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

// A single-instance application: main announces itself through a marker file and waits until
// forwarded arguments have arrived in initSingleApplication.
public class Single {
    static volatile boolean mainRunning;
    static volatile Thread mainThread;
    static final CountDownLatch delivered = new CountDownLatch(1);

    public static void initSingleApplication(String[] args) {
        Thread current = Thread.currentThread();
        System.out.println("INIT count=" + args.length + " main-running=" + mainRunning
                + " on-main-thread=" + (current == mainThread) + " daemon=" + current.isDaemon());
        for (int i = 0; i < args.length; i++) {
            System.out.println("INIT ARG " + i + " [" + Args.codePoints(args[i]) + "]");
        }
        delivered.countDown();
    }

    public static void main(String[] args) throws IOException, InterruptedException {
        mainThread = Thread.currentThread();
        mainRunning = true;
        System.out.println("MAIN Single count=" + args.length);
        new File(System.getProperty("hs.marker")).createNewFile();
        boolean arrived = delivered.await(60, TimeUnit.SECONDS);
        System.out.println("MAIN delivered=" + arrived);
        mainRunning = false;
    }
}
