package hs.app;

// Has static methods, none of them main(String[]).
public class NoMain {
    public static void run(String[] args) {
        System.out.println("UNEXPECTED run");
    }

    public static void main(String arg) {
        System.out.println("UNEXPECTED main(String)");
    }
}
