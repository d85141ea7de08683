// A main class in the unnamed package.
public class DefaultHello {
    public static void main(String[] args) {
        System.out.println("MAIN DefaultHello count=" + args.length);
    }
}
