/** Entry point in the unnamed package. */
public class DefaultPackageApp {
    public static void main(String[] args) {
        System.out.println("DefaultPackageApp");
    }
}
