package hs.app;

// Ends the VM with the code given as the first argument.
public class Exit {
    public static void main(String[] args) {
        int code = Integer.parseInt(args[0]);
        System.out.println("MAIN exiting " + code);
        System.out.flush();
        System.exit(code);
    }
}
