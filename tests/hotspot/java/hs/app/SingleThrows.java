package hs.app;

import java.io.File;
import java.io.IOException;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

// A single-instance application whose initSingleApplication throws after it has seen its arguments.
public class SingleThrows {
    static final CountDownLatch delivered = new CountDownLatch(2);

    public static void initSingleApplication(String[] args) {
        System.out.println("INIT count=" + args.length + " thread=" + Thread.currentThread().getName());
        delivered.countDown();
        throw new IllegalStateException("boom from initSingleApplication");
    }

    public static void main(String[] args) throws IOException, InterruptedException {
        new File(System.getProperty("hs.marker")).createNewFile();
        System.out.println("MAIN delivered-twice=" + delivered.await(60, TimeUnit.SECONDS));
    }
}
