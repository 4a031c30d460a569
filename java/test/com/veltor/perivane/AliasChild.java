package com.veltor.perivane;

/**
 * AliasTest's child: runs each call "op|arg|..." in turn and writes "=> result" to standard
 * error after it, so that the library's log lines stand between the results they belong to.
 */
public final class AliasChild {
    public static void main(String[] args) {
        for (String call : args) {
            String[] a = call.split("\\|", -1);
            Object result = switch (a[0]) {
                case "create" -> Perivane.createShortcutItem(a[1], a[2], a[3]);
                case "remove" -> Perivane.removeShortcutItem(a[1], a[2]);
                case "createDesktop" -> Perivane.createDesktopItem(a[1], a[2]);
                case "removeDesktop" -> Perivane.removeDesktopItem(a[1]);
                case "resolve" -> Perivane.getShortcutPath(a[1]);
                case "home" -> Perivane.getHomeFolder();
                case "desktop" -> Perivane.getDesktopFolder();
                default -> throw new IllegalArgumentException(a[0]);
            };
            System.err.println("=> " + result);
        }
    }
}
